/* The proxy DLL's entry points (DllGetClassObject, DllCanUnloadNow) from
 * the generated tables, answering to the class the registration names. */
#include "platform/win32/idl/proxy_clsid.h"

#define PROXY_CLSID_IS ECUPROG_PROXY_CLSID_INIT
#include "dlldata.c"

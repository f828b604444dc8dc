/* What the marshalling code generated from com_base.idl includes in its
 * place: the system's own declarations of those types. */
#ifndef ECUPROG_PLATFORM_WIN32_IDL_COM_BASE_H
#define ECUPROG_PLATFORM_WIN32_IDL_COM_BASE_H

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

#ifdef __cplusplus
extern "C" {
#endif
/* The IUnknown entries of every proxy (rpcrt4); rpcproxy.h of this
 * toolchain does not declare them. */
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This,
                                                        REFIID riid,
                                                        void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);
#ifdef __cplusplus
}
#endif

#endif

// COM apartment bookkeeping and object creation on POSIX hosts.
#include "platform/posix/class_objects.h"
#include "platform/posix/com_client.h"
#include "platform/posix/com_state.h"
#include "platform/posix/local_server_activation.h"
#include "platform/posix/windows_subset.h"

// {00000000-0000-0000-C000-000000000046}
const IID IID_IUnknown = {0x00000000,
                          0x0000,
                          0x0000,
                          {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000001-0000-0000-C000-000000000046}
const IID IID_IClassFactory = {
    0x00000001,
    0x0000,
    0x0000,
    {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// How many times this thread initialised COM without uninitialising it.
thread_local int t_initialised = 0;

}  // namespace

namespace com_posix {

bool ComInitialised() { return t_initialised > 0; }

}  // namespace com_posix

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
  if (reserved != nullptr || coInit != COINIT_MULTITHREADED) {
    return E_INVALIDARG;
  }
  // As on Windows: the first call initialises, a repeated one reports that
  // COM was already initialised, and each needs its CoUninitialize.
  return t_initialised++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_initialised == 0) return;
  if (--t_initialised > 0) return;
  // The last one ends COM here: connections to local servers close (so the
  // servers end), proxies still held fail from now on, and this process's
  // class registrations go.
  com_posix::ClientRuntime::Stop();
  com_posix::RevokeAllClassObjects();
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext,
                         REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!com_posix::ComInitialised()) return CO_E_NOTINITIALIZED;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;

  // A class object registered in this process answers first, in process.
  if (IClassFactory* factory = com_posix::FindClassFactory(clsid, clsContext)) {
    const HRESULT hr = factory->CreateInstance(nullptr, riid, object);
    factory->Release();
    if (FAILED(hr)) *object = nullptr;
    return hr;
  }
  if ((clsContext & CLSCTX_LOCAL_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  return com_posix::ActivateLocalServer(clsid, riid, object);
}

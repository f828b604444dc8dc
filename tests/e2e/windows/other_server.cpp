// A server of the programming server's class that is not the simulator, as
// another program registered for the class, or the device maker's server,
// would be to a check: it answers for IUnknown only.
//
//   other_server -Embedding      started by COM: ends once the objects it
//                                made are released
//   other_server --running FILE  started by hand, as a server that is
//                                already running: writes FILE once its
//                                class is registered, ends after two
//                                creations or a minute
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "server/server_interfaces.h"

namespace {

std::atomic<long> liveObjects{0};
std::atomic<long> creations{0};

class Plain : public IUnknown {
 public:
  Plain() { ++liveObjects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown)) return E_NOINTERFACE;
    *object = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      --liveObjects;
      delete this;
    }
    return left;
  }

 private:
  virtual ~Plain() = default;
  std::atomic<ULONG> references_{1};
};

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) &&
        !IsEqualGUID(riid, IID_IClassFactory)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Plain* plain = new Plain;
    const HRESULT result = plain->QueryInterface(riid, object);
    plain->Release();
    ++creations;
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

int main(int argc, char** argv) {
  const bool running = argc == 3 && std::strcmp(argv[1], "--running") == 0;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  DWORD cookie = 0;
  if (FAILED(CoRegisterClassObject(CLSID_ProgrammingServer, &factory,
                                   CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                   &cookie))) {
    std::fputs("other_server: the class cannot be registered\n", stderr);
    return 1;
  }
  if (running) {
    if (FILE* file = std::fopen(argv[2], "w")) std::fclose(file);
  }
  for (int tenths = 0; tenths < 600; ++tenths) {
    if (running ? creations >= 2 : creations > 0 && liveObjects == 0) break;
    Sleep(100);
  }
  // A moment for the last answer to leave.
  Sleep(200);
  CoRevokeClassObject(cookie);
  CoUninitialize();
  return 0;
}

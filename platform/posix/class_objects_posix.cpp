// Class objects registered in this process. A registration holds a
// reference to its object until it is revoked.
#include <vector>

#include "platform/posix/class_objects.h"
#include "platform/posix/com_state.h"

namespace com_posix {

namespace {

struct Registration {
  DWORD cookie;
  CLSID clsid;
  IUnknown* object;
  DWORD clsContext;
};

// Never destroyed by the C++ runtime, so registrations left at exit are not
// released against objects that may already be gone.
std::vector<Registration>& Registrations() {
  static auto* registrations = new std::vector<Registration>;
  return *registrations;
}

DWORD g_lastCookie = 0;

}  // namespace

IClassFactory* FindClassFactory(REFCLSID clsid, DWORD clsContext) {
  for (const Registration& r : Registrations()) {
    if (r.clsid == clsid && (r.clsContext & clsContext) != 0) {
      void* factory = nullptr;
      if (SUCCEEDED(r.object->QueryInterface(IID_IClassFactory, &factory))) {
        return static_cast<IClassFactory*>(factory);
      }
    }
  }
  return nullptr;
}

void RevokeAllClassObjects() {
  std::vector<Registration> revoked;
  revoked.swap(Registrations());
  for (const Registration& r : revoked) r.object->Release();
}

}  // namespace com_posix

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject,
                              DWORD clsContext, DWORD flags, DWORD* cookie) {
  if (cookie == nullptr) return E_INVALIDARG;
  *cookie = 0;
  if (classObject == nullptr ||
      (flags != REGCLS_SINGLEUSE && flags != REGCLS_MULTIPLEUSE)) {
    return E_INVALIDARG;
  }
  if (!com_posix::ComInitialised()) return CO_E_NOTINITIALIZED;
  classObject->AddRef();
  *cookie = ++com_posix::g_lastCookie;
  com_posix::Registrations().push_back(
      {*cookie, clsid, classObject, clsContext});
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  std::vector<com_posix::Registration>& registrations =
      com_posix::Registrations();
  for (auto it = registrations.begin(); it != registrations.end(); ++it) {
    if (it->cookie == cookie) {
      IUnknown* object = it->object;
      registrations.erase(it);
      object->Release();
      return S_OK;
    }
  }
  return CO_E_OBJNOTREG;
}

// The function-table positions the tool never calls, answered once for
// every implementation of the server's interfaces (the simulator, the
// POSIX proxies, test servers): E_NOTIMPL, as for any operation an object
// does not offer.
#ifndef ECUPROG_SERVER_UNUSED_ENTRIES_H
#define ECUPROG_SERVER_UNUSED_ENTRIES_H

#include "server/server_interfaces.h"

class ProgrammingServerUnused : public ProgrammingServer {
 public:
  HRESULT STDMETHODCALLTYPE Unused3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused7() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused8() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused12() override { return E_NOTIMPL; }
};

class DeviceInterfaceUnused : public DeviceInterface {
 public:
  HRESULT STDMETHODCALLTYPE Unused3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused7() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused8() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused10() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused11() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused12() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused13() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused14() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused15() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused16() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused17() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused18() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused19() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused20() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused21() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused22() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused23() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused24() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused25() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused26() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused27() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused28() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused30() override { return E_NOTIMPL; }
};

class ProgrammingInterfaceUnused : public ProgrammingInterface {
 public:
  HRESULT STDMETHODCALLTYPE Unused4() override { return E_NOTIMPL; }
};

#endif  // ECUPROG_SERVER_UNUSED_ENTRIES_H

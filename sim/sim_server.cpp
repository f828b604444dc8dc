#include "sim/sim_server.h"

#include "sim/bench_json.h"
#include "sim/sim_objects.h"

SimServer::SimServer(SimBench bench)
    : state_(std::make_shared<SimState>(std::move(bench))) {}

SimServer::SimServer(const std::string& folder)
    : SimServer(LoadBench(folder)) {}

SimServer::~SimServer() { Unregister(); }

ProgrammingServer* SimServer::NewRoot() { return NewSimRoot(state_); }

IClassFactory* SimServer::NewClassFactory() {
  return NewSimClassFactory(state_);
}

HRESULT SimServer::Register() {
  Unregister();
  IClassFactory* factory = NewClassFactory();
  const HRESULT result =
      CoRegisterClassObject(CLSID_ProgrammingServer, factory,
                            CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
  // COM holds its own reference while registered.
  factory->Release();
  registered_ = SUCCEEDED(result);
  return result;
}

void SimServer::Unregister() {
  if (!registered_) return;
  CoRevokeClassObject(cookie_);
  registered_ = false;
}

// The object that tells the simulator from a real server: a program that
// reached the server's class through COM asks it for SimulatedServer, which
// no device maker's server answers. It touches no unit and no scripted
// fault strikes it, so asking changes nothing a job would see.
#include "sim/sim_arrays.h"
#include "sim/sim_call.h"
#include "sim/sim_object.h"
#include "sim/sim_objects.h"

namespace {

class SimulatorIdentity : public SimObject<SimulatedServer> {
 public:
  explicit SimulatorIdentity(std::shared_ptr<SimState> state)
      : SimObject(std::move(state), SimObjectKind::kIdentity,
                  IID_SimulatedServer, "") {}

  HRESULT STDMETHODCALLTYPE GetSimulator(BSTR* path, LONG* bits) override {
    return ServeSimCall(*state_, [&]() -> HRESULT {
      if (path == nullptr || bits == nullptr) return E_POINTER;
      *bits = static_cast<LONG>(sizeof(void*) * 8);
      *path = MakeSimString(state_->serverPath());
      return *path == nullptr ? E_OUTOFMEMORY : S_OK;
    });
  }
};

}  // namespace

SimulatedServer* NewSimIdentity(std::shared_ptr<SimState> state) {
  return new SimulatorIdentity(std::move(state));
}

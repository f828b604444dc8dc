// One opened unit: hands out the programming interfaces of its two flash
// regions to an identity with sufficient access.
#include "server/unused_entries.h"
#include "sim/sim_object.h"
#include "sim/sim_objects.h"
#include "sim/unit_rules.h"

namespace {

class SimDevice : public SimObject<DeviceInterfaceUnused> {
 public:
  SimDevice(std::shared_ptr<SimState> state, size_t unitIndex)
      : SimObject(state, SimObjectKind::kDevice, IID_DeviceInterface,
                  state->unit(unitIndex).name),
        unitIndex_(unitIndex) {}

  HRESULT STDMETHODCALLTYPE
  GetCodeProgrammer(USHORT unitKeyA, USHORT identityId,
                    ProgrammingInterface** code) override {
    return Serve([&]() -> HRESULT {
      return Programmer("GetCodeProgrammer", SimRegion::kCode, unitKeyA,
                        identityId, code);
    });
  }

  HRESULT STDMETHODCALLTYPE
  GetStoreProgrammer(USHORT unitKeyA, USHORT identityId,
                     ProgrammingInterface** store) override {
    return Serve([&]() -> HRESULT {
      return Programmer("GetStoreProgrammer", SimRegion::kStore, unitKeyA,
                        identityId, store);
    });
  }

 private:
  HRESULT Programmer(const char* operation, SimRegion region, USHORT unitKeyA,
                     USHORT identityId, ProgrammingInterface** out) {
    SimCall call;
    call.operation = operation;
    call.unit = unitName();
    call.region = region;
    call.args = {unitKeyA, identityId};
    const SimFault* fault = nullptr;
    const HRESULT entered = state_->Enter(std::move(call), &fault);
    if (entered != S_OK) return entered;
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (Granted(unitKeyA, identityId) &&
        !(fault && fault->action == FaultAction::kEmptyOutput)) {
      *out = NewSimProgrammer(state_, unitIndex_, region);
    }
    return SimState::Result(fault);
  }

  // A unit without simulated flash has none to give.
  bool Granted(USHORT unitKeyA, USHORT identityId) const {
    if (state_->Flash(unitIndex_, SimRegion::kCode) == nullptr) return false;
    return GrantsProgrammer(state_->unit(unitIndex_),
                            state_->Record(unitIndex_), unitKeyA, identityId);
  }

  size_t unitIndex_;
};

}  // namespace

DeviceInterface* NewSimDevice(std::shared_ptr<SimState> state,
                              size_t unitIndex) {
  return new SimDevice(std::move(state), unitIndex);
}

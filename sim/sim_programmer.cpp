// One flash region of a unit: group, erase, program and reset, carried out
// on the region's flash file as the real part would.
#include <cstring>

#include "server/unused_entries.h"
#include "sim/sim_arrays.h"
#include "sim/sim_object.h"
#include "sim/sim_objects.h"
#include "sim/unit_lock.h"
#include "sim/unit_rules.h"

namespace {

using Clock = std::chrono::steady_clock;

class SimProgrammer : public SimObject<ProgrammingInterfaceUnused> {
 public:
  SimProgrammer(std::shared_ptr<SimState> state, size_t unitIndex,
                SimRegion region)
      : SimObject(state,
                  region == SimRegion::kCode ? SimObjectKind::kCodeProgrammer
                                             : SimObjectKind::kStoreProgrammer,
                  IID_ProgrammingInterface, state->unit(unitIndex).name),
        unitIndex_(unitIndex),
        region_(region),
        flash_(*state->Flash(unitIndex, region)) {}

  HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG groupKey, REFGUID groupId,
                                         GroupTicket* ticket,
                                         USHORT* status) override {
    return Serve([&]() -> HRESULT {
      SimCall call = Call("AcquireGroup", {groupKey});
      const uint8_t* id = reinterpret_cast<const uint8_t*>(&groupId);
      call.bytes.assign(id, id + sizeof(GUID));
      const SimFault* fault = nullptr;
      const HRESULT entered = state_->Enter(std::move(call), &fault);
      if (entered != S_OK) return entered;
      if (ticket == nullptr || status == nullptr) return E_POINTER;
      if (AnswersStatus(fault, status)) return S_OK;
      if (groupKey != state_->Record(unitIndex_).groupKey()) {
        *status = kSimStatusWrongGroupKey;
        return SimState::Result(fault);
      }
      *status = ClaimUnit(*state_, unitIndex_);
      if (*status != kStatusDone) return SimState::Result(fault);
      // The ticket means nothing outside the server; it carries the group.
      std::memcpy(ticket->bytes, id, sizeof ticket->bytes);
      groupHeld_ = true;
      *status = kStatusDone;
      return SimState::Result(fault);
    });
  }

  HRESULT STDMETHODCALLTYPE StartErase(ULONG startAddress, ULONG length,
                                       USHORT* status) override {
    return Serve([&]() -> HRESULT {
      const SimFault* fault = nullptr;
      const HRESULT entered =
          state_->Enter(Call("StartErase", {startAddress, length}), &fault);
      if (entered != S_OK) return entered;
      if (status == nullptr) return E_POINTER;
      if (AnswersStatus(fault, status)) return S_OK;
      std::optional<SimState::Erase>& erase = RunningErase();
      const USHORT refusal = Refusal(startAddress, length);
      if (refusal != kStatusDone) {
        *status = refusal;
      } else if (flash_.IsErased(startAddress, length)) {
        *status = kStatusDone;  // already blank: nothing to erase
      } else {
        // Assigned, not emplaced: clang does not see Erase as default-
        // constructible in optional::emplace (its members have initialisers).
        erase = SimState::Erase{};
        flash_.SectorRange(startAddress, length, &erase->start, &erase->length);
        erase->ends = Clock::now() + std::chrono::milliseconds(Unit().eraseMs);
        *status = kStatusBusy;
      }
      if (Dies(fault)) return DieErasing();
      return SimState::Result(fault);
    });
  }

  HRESULT STDMETHODCALLTYPE PollErase(USHORT* status) override {
    return Serve([&]() -> HRESULT {
      const SimFault* fault = nullptr;
      const HRESULT entered = state_->Enter(Call("PollErase", {}), &fault);
      if (entered != S_OK) return entered;
      if (status == nullptr) return E_POINTER;
      std::optional<SimState::Erase>& erase = RunningErase();
      if (Dies(fault)) return DieErasing();
      if (AnswersStatus(fault, status)) {
        // A failure ends the erase where it stands: nothing was erased,
        // or with "during" the first half of its sectors, as an erase that
        // fails part-way leaves the flash.
        if (*status != kStatusBusy) {
          if (fault->during) EraseFirstHalf();
          erase.reset();
        }
        return S_OK;
      }
      if (!erase) {
        *status = kStatusDone;  // nothing running
        return SimState::Result(fault);
      }
      ++erase->polls;
      if (Clock::now() < erase->ends || erase->polls <= Unit().erasePolls) {
        *status = kStatusBusy;
        return SimState::Result(fault);
      }
      const bool erased = flash_.Fill(erase->start, erase->length, kErasedByte);
      erase.reset();
      *status = erased ? kStatusDone : kSimStatusFlashFault;
      return SimState::Result(fault);
    });
  }

  HRESULT STDMETHODCALLTYPE ProgramRegion(ULONG startAddress, ULONG length,
                                          SAFEARRAY* data,
                                          USHORT* status) override {
    return Serve([&]() -> HRESULT {
      SimArrayFacts facts;
      std::vector<uint8_t> bytes;
      const bool read =
          data != nullptr && ReadSimByteArray(data, &facts, &bytes);
      const SimFault* fault = nullptr;
      const HRESULT entered = state_->Enter(
          Call("ProgramRegion", {startAddress, length, facts.count,
                                 facts.lowerBound, facts.type}),
          &fault);
      if (entered != S_OK) return entered;
      if (data == nullptr || status == nullptr) return E_POINTER;
      if (!read || bytes.size() != length) return E_INVALIDARG;
      if (AnswersStatus(fault, status)) return S_OK;
      // Real flash only clears bits: writing over data that is not erased
      // would corrupt it, so the part refuses and writes nothing.
      const USHORT refusal = Refusal(startAddress, length);
      const bool writable =
          refusal == kStatusDone && flash_.IsErased(startAddress, length);
      if (Dies(fault)) {
        if (writable) flash_.Write(startAddress, bytes.data(), length / 2);
        return state_->ExitNow();
      }
      if (refusal != kStatusDone) {
        *status = refusal;
      } else if (!writable) {
        *status = kSimStatusRefused;
      } else {
        const bool written = flash_.Write(startAddress, bytes.data(), length);
        if (Unit().programMs > 0) Sleep(Unit().programMs);
        *status = written ? kStatusDone : kSimStatusFlashFault;
      }
      return SimState::Result(fault);
    });
  }

  HRESULT STDMETHODCALLTYPE ResetDevice(USHORT* status) override {
    return Serve([&]() -> HRESULT {
      const SimFault* fault = nullptr;
      const HRESULT entered = state_->Enter(Call("ResetDevice", {}), &fault);
      if (entered != S_OK) return entered;
      if (status == nullptr) return E_POINTER;
      if (AnswersStatus(fault, status)) return S_OK;
      state_->Restart(unitIndex_);
      *status = kStatusDone;
      return SimState::Result(fault);
    });
  }

 private:
  SimCall Call(const char* operation, std::vector<int64_t> args) const {
    SimCall call;
    call.operation = operation;
    call.unit = unitName();
    call.region = region_;
    call.args = std::move(args);
    return call;
  }

  const SimUnit& Unit() const { return state_->unit(unitIndex_); }

  std::optional<SimState::Erase>& RunningErase() {
    return state_->RunningErase(unitIndex_, region_);
  }

  USHORT Refusal(uint32_t start, uint32_t length) {
    return FlashRangeRefusal(flash_, {groupHeld_, RunningErase().has_value()},
                             start, length);
  }

  // A status fault answers its value and the call does nothing else.
  static bool AnswersStatus(const SimFault* fault, USHORT* status) {
    if (!fault || fault->action != FaultAction::kStatus) return false;
    *status = static_cast<USHORT>(*fault->value);
    return true;
  }

  static bool Dies(const SimFault* fault) {
    return fault && fault->action == FaultAction::kExit && fault->during;
  }

  // The server ends half-way through the running erase: the first half of
  // its sectors are erased, the rest is as it was.
  HRESULT DieErasing() {
    EraseFirstHalf();
    return state_->ExitNow();
  }

  // The first half of the running erase's sectors erased, the rest as it
  // was.
  void EraseFirstHalf() {
    std::optional<SimState::Erase>& erase = RunningErase();
    if (!erase) return;
    const uint32_t half =
        erase->length / 2 / kFlashSectorSize * kFlashSectorSize;
    flash_.Fill(erase->start, half, kErasedByte);
  }

  size_t unitIndex_;
  SimRegion region_;
  const FlashFile& flash_;
  bool groupHeld_ = false;
};

}  // namespace

ProgrammingInterface* NewSimProgrammer(std::shared_ptr<SimState> state,
                                       size_t unitIndex, SimRegion region) {
  return new SimProgrammer(std::move(state), unitIndex, region);
}

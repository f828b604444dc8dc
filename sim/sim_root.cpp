// The root object: versions, profile, detection, identities and names.
#include <cstring>

#include "server/unused_entries.h"
#include "sim/sim_arrays.h"
#include "sim/sim_object.h"
#include "sim/sim_objects.h"
#include "sim/unit_rules.h"

namespace {

// The three constants the tool always passes to GetIdentities; the server
// refuses others rather than guess what they ask for.
constexpr LONG kIdentitiesFirst = 0;
constexpr LONG kIdentitiesSecond = 0;
constexpr LONG kIdentitiesThird = 1;

class SimRoot : public SimObject<ProgrammingServerUnused> {
 public:
  explicit SimRoot(std::shared_ptr<SimState> state)
      : SimObject(std::move(state), SimObjectKind::kRoot, IID_ProgrammingServer,
                  "") {}

  HRESULT STDMETHODCALLTYPE GetIdentities(USHORT unitKeyA, USHORT unitKeyB,
                                          LONG first, LONG second, LONG third,
                                          SAFEARRAY** identities) override {
    return Serve([&]() -> HRESULT {
      const size_t unit = UnitByKeys(unitKeyA, unitKeyB);
      const SimFault* fault = nullptr;
      const HRESULT entered =
          state_->Enter(Call("GetIdentities", unit,
                             {unitKeyA, unitKeyB, first, second, third}),
                        &fault);
      if (entered != S_OK) return entered;
      if (identities == nullptr) return E_POINTER;
      *identities = nullptr;
      if (first != kIdentitiesFirst || second != kIdentitiesSecond ||
          third != kIdentitiesThird) {
        return E_INVALIDARG;
      }
      // A unit's identities are told to its own pair of keys only; keys that
      // are no unit's pair are refused.
      if (unit >= state_->unitCount()) return E_INVALIDARG;
      // A list the unit never gave would be an answer made up: the call
      // fails, and the server says why where its user sees it.
      if (!state_->unit(unit).identitiesKnown) {
        state_->Report("unit \"" + state_->unit(unit).name +
                       "\": its identities are not known to this bench (it "
                       "was listed, not chosen, in the job the bench was "
                       "made from); GetIdentities fails");
        return E_FAIL;
      }
      std::vector<uint8_t> words;
      for (const SimIdentity& identity : state_->unit(unit).identities) {
        for (uint16_t value : {identity.identityGroup, identity.identityId,
                               identity.accessLevel}) {
          words.push_back(static_cast<uint8_t>(value));
          words.push_back(static_cast<uint8_t>(value >> 8));
        }
      }
      return AnswerSimArray(fault, VT_UI2, words, identities);
    });
  }

  HRESULT STDMETHODCALLTYPE GetAccessName(USHORT accessLevel,
                                          BSTR* name) override {
    return Serve([&]() -> HRESULT {
      const SimFault* fault = nullptr;
      const HRESULT entered =
          state_->Enter(Call("GetAccessName", kNoUnit, {accessLevel}), &fault);
      if (entered != S_OK) return entered;
      const auto& names = state_->bench().accessLevelNames;
      auto it = names.find(accessLevel);
      return AnswerText(fault, it == names.end() ? nullptr : &it->second, name);
    });
  }

  HRESULT STDMETHODCALLTYPE GetIdentityName(USHORT identityGroup,
                                            USHORT identityId,
                                            BSTR* name) override {
    return Serve([&]() -> HRESULT {
      const SimFault* fault = nullptr;
      const HRESULT entered = state_->Enter(
          Call("GetIdentityName", kNoUnit, {identityGroup, identityId}),
          &fault);
      if (entered != S_OK) return entered;
      const auto& names = state_->bench().identityNames;
      auto it = names.find({identityGroup, identityId});
      return AnswerText(fault, it == names.end() ? nullptr : &it->second, name);
    });
  }

  HRESULT STDMETHODCALLTYPE SetProfile(SAFEARRAY* profile) override {
    return Serve([&]() -> HRESULT {
      SimArrayFacts facts;
      std::vector<uint8_t> bytes;
      const bool read =
          profile != nullptr && ReadSimByteArray(profile, &facts, &bytes);
      const SimFault* fault = nullptr;
      const HRESULT entered =
          state_->Enter(Call("SetProfile", kNoUnit,
                             {facts.count, facts.lowerBound, facts.type}),
                        &fault);
      if (entered != S_OK) return entered;
      if (profile == nullptr) return E_POINTER;
      if (!read) return E_INVALIDARG;
      state_->KeepProfile(std::move(bytes));
      return SimState::Result(fault);
    });
  }

  HRESULT STDMETHODCALLTYPE DetectDevices(SAFEARRAY** devices) override {
    return Serve([&]() -> HRESULT {
      const SimFault* fault = nullptr;
      const HRESULT entered =
          state_->Enter(Call("DetectDevices", kNoUnit, {}), &fault);
      if (entered != S_OK) return entered;
      if (devices == nullptr) return E_POINTER;
      *devices = nullptr;
      std::vector<uint8_t> bytes;
      for (const DeviceRecord& record : state_->Records()) {
        bytes.insert(bytes.end(), record.bytes,
                     record.bytes + kDeviceRecordSize);
      }
      return AnswerSimArray(fault, VT_UI1, bytes, devices);
    });
  }

  HRESULT STDMETHODCALLTYPE OpenDevice(ULONG unitAddressA,
                                       UnitAddressTail addressTail,
                                       DeviceInterface** device) override {
    return Serve([&]() -> HRESULT {
      uint8_t tail[sizeof(UnitAddressTail)];
      std::memcpy(tail, &addressTail, sizeof tail);
      const size_t unit = UnitByAddress(unitAddressA, tail);
      SimCall call = Call("OpenDevice", unit, {unitAddressA});
      call.bytes.assign(tail, tail + sizeof tail);
      const SimFault* fault = nullptr;
      const HRESULT entered = state_->Enter(std::move(call), &fault);
      if (entered != S_OK) return entered;
      if (device == nullptr) return E_POINTER;
      *device = nullptr;
      // An address no unit has opens nothing; the output stays empty.
      if (unit < state_->unitCount() &&
          !(fault && fault->action == FaultAction::kEmptyOutput)) {
        *device = NewSimDevice(state_, unit);
      }
      return SimState::Result(fault);
    });
  }

  HRESULT STDMETHODCALLTYPE GetVersion(USHORT* major, USHORT* minor) override {
    return Serve([&]() -> HRESULT {
      const SimFault* fault = nullptr;
      const HRESULT entered =
          state_->Enter(Call("GetVersion", kNoUnit, {}), &fault);
      if (entered != S_OK) return entered;
      if (major == nullptr || minor == nullptr) return E_POINTER;
      *major = state_->bench().versionMajor;
      *minor = state_->bench().versionMinor;
      return SimState::Result(fault);
    });
  }

 private:
  static constexpr size_t kNoUnit = SIZE_MAX;

  SimCall Call(const char* operation, size_t unit,
               std::vector<int64_t> args) const {
    SimCall call;
    call.operation = operation;
    if (unit < state_->unitCount()) call.unit = state_->unit(unit).name;
    call.args = std::move(args);
    return call;
  }

  // Units are found by what their records show, so a raw record is found
  // by the address and keys inside it.
  size_t UnitByKeys(USHORT unitKeyA, USHORT unitKeyB) const {
    for (size_t i = 0; i < state_->unitCount(); ++i) {
      if (HasKeys(state_->Record(i), unitKeyA, unitKeyB)) return i;
    }
    return kNoUnit;
  }

  size_t UnitByAddress(ULONG unitAddressA, const uint8_t* tail) const {
    for (size_t i = 0; i < state_->unitCount(); ++i) {
      const DeviceRecord record = state_->Record(i);
      if (record.unitAddressA() == unitAddressA &&
          std::memcmp(record.bytes + device_record::kUnitAddressB, tail,
                      sizeof(UnitAddressTail)) == 0) {
        return i;
      }
    }
    return kNoUnit;
  }

  // A name the bench does not know is an argument the server refuses.
  static HRESULT AnswerText(const SimFault* fault, const SimName* known,
                            BSTR* name) {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    if (known == nullptr) return E_INVALIDARG;
    if (fault && fault->action == FaultAction::kEmptyOutput) {
      return SimState::Result(fault);
    }
    *name = MakeSimString(*known);
    if (*known && *name == nullptr) return E_OUTOFMEMORY;
    return SimState::Result(fault);
  }
};

}  // namespace

ProgrammingServer* NewSimRoot(std::shared_ptr<SimState> state) {
  return new SimRoot(std::move(state));
}

HRESULT AnswerSimArray(const SimFault* fault, VARTYPE type,
                       const std::vector<uint8_t>& data, SAFEARRAY** out) {
  *out = nullptr;
  const FaultAction action = fault ? fault->action : FaultAction::kResultCode;
  if (fault && action == FaultAction::kEmptyOutput) {
    return SimState::Result(fault);
  }
  VARTYPE answered = type;
  if (fault && action == FaultAction::kWrongElementType) {
    const VARTYPE other = type == VT_UI1 ? VT_UI2 : VT_UI1;
    answered = fault->value ? static_cast<VARTYPE>(*fault->value) : other;
  }
  const size_t elementSize = SimElementSize(answered);
  ULONG count =
      static_cast<ULONG>((data.size() + elementSize - 1) / elementSize);
  if (fault && action == FaultAction::kBadLength) {
    count = fault->value ? static_cast<ULONG>(*fault->value) : count + 1;
  }
  *out = MakeSimArray(answered, count, data);
  if (*out == nullptr) return E_OUTOFMEMORY;
  return SimState::Result(fault);
}

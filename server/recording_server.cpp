#include "server/recording_server.h"

#include <atomic>
#include <string>
#include <utility>

#include "report/job_record.h"
#include "server/unused_entries.h"

using json = nlohmann::ordered_json;

namespace {

std::string Hex(const BYTE* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

// Null stays absent from the entry.
void PutName(json* entry, BSTR name) {
  if (name != nullptr) (*entry)["name"] = RecordText(name, SysStringLen(name));
}

// Reads the answer's array for the record without changing it: it is
// locked and unlocked again, as the tool will take it over itself. An array
// the tool would refuse is described, not read.
template <typename Element, typename Put>
void PutArray(json* entry, SAFEARRAY* array, VARTYPE expected, Put put) {
  VARTYPE type = VT_EMPTY;
  LONG lower = 0;
  LONG upper = -1;
  if (array == nullptr) {
    (*entry)["array"] = "none";
    return;
  }
  if (array->cDims != 1 || FAILED(SafeArrayGetVartype(array, &type)) ||
      type != expected || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array, 1, &upper)) || upper < lower - 1 ||
      FAILED(SafeArrayLock(array))) {
    (*entry)["array"] = "not as expected";
    return;
  }
  const size_t count = static_cast<size_t>(static_cast<int64_t>(upper) -
                                           static_cast<int64_t>(lower) + 1);
  put(static_cast<const Element*>(array->pvData), count);
  SafeArrayUnlock(array);
}

json Call(const char* name, HRESULT result) {
  return {{"entry", "call"}, {"call", name}, {"result", RecordResult(result)}};
}

// IUnknown of a recording object: it holds the server's object and is
// released with it.
template <typename Interface, typename Base>
class Recorder : public Base {
 public:
  Recorder(Interface* inner, const IID& iid) : inner_(inner), iid_(iid) {}
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, iid_)) {
      *object = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~Recorder() { inner_->Release(); }
  Interface* inner_;

 private:
  IID iid_;
  std::atomic<ULONG> references_{1};
};

// One unit step: begun on the disk before its request, ended when its
// answer (for an erase, the last poll's) is in.
class Step {
 public:
  void Begin(const std::string& name) {
    name_ = name;
    busy_ = 0;
    open_ = true;
    RecordEntry(
        {{"entry", "step"}, {"step", name_}, {"started", RecordTimeNow()}},
        /*toDisk=*/true);
    // Timed from the request on: the wait for the disk is the record's.
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    start_ = count.QuadPart;
  }
  void CountBusy() { ++busy_; }
  bool open() const { return open_; }
  void End(HRESULT result, USHORT status, bool blank = false) {
    EndWith(result, status, blank, nullptr);
  }
  /// An erase's end says whether the unit had begun it: a refusal before
  /// it began leaves the region as it was.
  void EndErase(HRESULT result, USHORT status, bool began, bool blank = false) {
    EndWith(result, status, blank, &began);
  }

 private:
  void EndWith(HRESULT result, USHORT status, bool blank, const bool* began) {
    if (!open_) return;
    open_ = false;
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&count);
    double ms = 0;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart != 0) {
      ms = static_cast<double>(count.QuadPart - start_) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
    }
    json entry = {{"entry", "step end"},
                  {"step", name_},
                  {"ended", RecordTimeNow()},
                  {"duration ms", static_cast<int64_t>(ms + 0.5)},
                  {"busy", busy_},
                  {"result", RecordResult(result)}};
    if (SUCCEEDED(result)) entry["status"] = status;
    if (began != nullptr) entry["began"] = *began;
    if (blank) entry["blank"] = true;
    RecordEntry(std::move(entry));
  }

  std::string name_;
  int busy_ = 0;
  bool open_ = false;
  LONGLONG start_ = 0;
};

class RecordingProgrammer
    : public Recorder<ProgrammingInterface, ProgrammingInterfaceUnused> {
 public:
  RecordingProgrammer(ProgrammingInterface* inner, const char* region)
      : Recorder(inner, IID_ProgrammingInterface), region_(region) {}

  // Taking the group changes nothing on the unit: a call, not a step.
  HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG groupKey, REFGUID groupId,
                                         GroupTicket* ticket,
                                         USHORT* status) override {
    HRESULT result = inner_->AcquireGroup(groupKey, groupId, ticket, status);
    json entry = Call("AcquireGroup", result);
    entry["region"] = region_;
    entry["group key"] = groupKey;
    if (SUCCEEDED(result)) entry["status"] = *status;
    RecordEntry(std::move(entry));
    return result;
  }
  HRESULT STDMETHODCALLTYPE StartErase(ULONG startAddress, ULONG length,
                                       USHORT* status) override {
    step_.Begin(region_ + " erase");
    HRESULT result = inner_->StartErase(startAddress, length, status);
    // A started erase stays open until a poll says how it ended.
    if (FAILED(result) || *status != kStatusBusy) {
      step_.EndErase(result, *status, /*began=*/false,
                     SUCCEEDED(result) && *status == kStatusDone);
    }
    return result;
  }
  HRESULT STDMETHODCALLTYPE PollErase(USHORT* status) override {
    HRESULT result = inner_->PollErase(status);
    if (SUCCEEDED(result) && *status == kStatusBusy) {
      step_.CountBusy();
    } else {
      step_.EndErase(result, *status, /*began=*/true);
    }
    return result;
  }
  HRESULT STDMETHODCALLTYPE ProgramRegion(ULONG startAddress, ULONG length,
                                          SAFEARRAY* data,
                                          USHORT* status) override {
    step_.Begin(region_ + " program");
    HRESULT result = inner_->ProgramRegion(startAddress, length, data, status);
    step_.End(result, *status);
    return result;
  }
  HRESULT STDMETHODCALLTYPE ResetDevice(USHORT* status) override {
    step_.Begin("reset");
    HRESULT result = inner_->ResetDevice(status);
    step_.End(result, *status);
    return result;
  }

 private:
  std::string region_;
  Step step_;
};

ProgrammingInterface* Wrapped(ProgrammingInterface* inner, const char* region) {
  return inner ? new RecordingProgrammer(inner, region) : nullptr;
}

class RecordingDevice
    : public Recorder<DeviceInterface, DeviceInterfaceUnused> {
 public:
  explicit RecordingDevice(DeviceInterface* inner)
      : Recorder(inner, IID_DeviceInterface) {}

  HRESULT STDMETHODCALLTYPE
  GetCodeProgrammer(USHORT unitKeyA, USHORT identityId,
                    ProgrammingInterface** code) override {
    HRESULT result = inner_->GetCodeProgrammer(unitKeyA, identityId, code);
    *code = Wrapped(*code, "code");
    Programmer("GetCodeProgrammer", result, unitKeyA, identityId, *code);
    return result;
  }
  HRESULT STDMETHODCALLTYPE
  GetStoreProgrammer(USHORT unitKeyA, USHORT identityId,
                     ProgrammingInterface** store) override {
    HRESULT result = inner_->GetStoreProgrammer(unitKeyA, identityId, store);
    *store = Wrapped(*store, "store");
    Programmer("GetStoreProgrammer", result, unitKeyA, identityId, *store);
    return result;
  }

 private:
  static void Programmer(const char* name, HRESULT result, USHORT unitKeyA,
                         USHORT identityId, ProgrammingInterface* given) {
    json entry = Call(name, result);
    entry["unit key a"] = unitKeyA;
    entry["identity id"] = identityId;
    entry["given"] = given != nullptr;
    RecordEntry(std::move(entry));
  }
};

class RecordingServer
    : public Recorder<ProgrammingServer, ProgrammingServerUnused> {
 public:
  explicit RecordingServer(ProgrammingServer* inner)
      : Recorder(inner, IID_ProgrammingServer) {}

  HRESULT STDMETHODCALLTYPE GetIdentities(USHORT unitKeyA, USHORT unitKeyB,
                                          LONG first, LONG second, LONG third,
                                          SAFEARRAY** identities) override {
    HRESULT result = inner_->GetIdentities(unitKeyA, unitKeyB, first, second,
                                           third, identities);
    json entry = Call("GetIdentities", result);
    entry["unit key a"] = unitKeyA;
    entry["unit key b"] = unitKeyB;
    PutArray<USHORT>(
        &entry, *identities, VT_UI2, [&](const USHORT* words, size_t count) {
          json triples = json::array();
          for (size_t i = 0; i + 3 <= count; i += 3) {
            triples.push_back({words[i], words[i + 1], words[i + 2]});
          }
          entry["identities"] = triples;
          if (count % 3 != 0) {
            json rest = json::array();
            for (size_t i = count - count % 3; i < count; ++i) {
              rest.push_back(words[i]);
            }
            entry["rest"] = rest;
          }
        });
    RecordEntry(std::move(entry));
    return result;
  }
  HRESULT STDMETHODCALLTYPE GetAccessName(USHORT accessLevel,
                                          BSTR* name) override {
    HRESULT result = inner_->GetAccessName(accessLevel, name);
    json entry = Call("GetAccessName", result);
    entry["access level"] = accessLevel;
    PutName(&entry, *name);
    RecordEntry(std::move(entry));
    return result;
  }
  HRESULT STDMETHODCALLTYPE GetIdentityName(USHORT identityGroup,
                                            USHORT identityId,
                                            BSTR* name) override {
    HRESULT result = inner_->GetIdentityName(identityGroup, identityId, name);
    json entry = Call("GetIdentityName", result);
    entry["identity group"] = identityGroup;
    entry["identity id"] = identityId;
    PutName(&entry, *name);
    RecordEntry(std::move(entry));
    return result;
  }
  HRESULT STDMETHODCALLTYPE SetProfile(SAFEARRAY* profile) override {
    HRESULT result = inner_->SetProfile(profile);
    json entry = Call("SetProfile", result);
    entry["bytes"] =
        profile && profile->cDims == 1 ? profile->rgsabound[0].cElements : 0;
    RecordEntry(std::move(entry));
    return result;
  }
  HRESULT STDMETHODCALLTYPE DetectDevices(SAFEARRAY** devices) override {
    HRESULT result = inner_->DetectDevices(devices);
    json entry = Call("DetectDevices", result);
    PutArray<BYTE>(&entry, *devices, VT_UI1,
                   [&](const BYTE* bytes, size_t count) {
                     json units = json::array();
                     size_t whole = count - count % kDeviceRecordSize;
                     for (size_t at = 0; at < whole; at += kDeviceRecordSize) {
                       units.push_back(Hex(bytes + at, kDeviceRecordSize));
                     }
                     entry["units"] = units;
                     if (whole < count) {
                       entry["rest"] = Hex(bytes + whole, count - whole);
                     }
                   });
    RecordEntry(std::move(entry));
    return result;
  }
  HRESULT STDMETHODCALLTYPE OpenDevice(ULONG unitAddressA,
                                       UnitAddressTail addressTail,
                                       DeviceInterface** device) override {
    HRESULT result = inner_->OpenDevice(unitAddressA, addressTail, device);
    if (*device != nullptr) *device = new RecordingDevice(*device);
    json entry = Call("OpenDevice", result);
    entry["unit address a"] = unitAddressA;
    entry["unit address b"] = addressTail.unitAddressB;
    entry["unit address c"] = addressTail.unitAddressC;
    entry["given"] = *device != nullptr;
    RecordEntry(std::move(entry));
    return result;
  }
  HRESULT STDMETHODCALLTYPE GetVersion(USHORT* major, USHORT* minor) override {
    HRESULT result = inner_->GetVersion(major, minor);
    json entry = Call("GetVersion", result);
    entry["major"] = *major;
    entry["minor"] = *minor;
    RecordEntry(std::move(entry));
    return result;
  }
};

std::string Release(uint16_t branch, uint16_t version) {
  return std::to_string(branch) + "." + std::to_string(version);
}

}  // namespace

ComRef<ProgrammingServer> RecordServerCalls(ComRef<ProgrammingServer> server) {
  if (!JobRecordOpen() || !server) return server;
  // The wrapper holds a reference of its own; the tool's goes with
  // `server`.
  server->AddRef();
  ComRef<ProgrammingServer> wrapped;
  *wrapped.Out() = new RecordingServer(server.get());
  return wrapped;
}

void RecordChosenUnit(const DeviceRecord& unit) {
  json entry = {
      {"entry", "unit"},
      {"serial", unit.serialNumber()},
      {"label", unit.unitLabel()},
      {"model", unit.modelName()},
      {"boot release", Release(unit.bootBranch(), unit.bootVersion())},
      {"state", unit.unitState()}};
  // The code release the listing showed, if it showed one.
  if (unit.unitState() > unit_state::kCodeShownAbove) {
    entry["code release"] =
        Release(unit.unitCodeBranch(), unit.unitCodeVersion()) + "." +
        std::to_string(unit.unitCodeRevision());
  } else {
    entry["code release"] = nullptr;
  }
  RecordEntry(std::move(entry));
}

// Reading a bench: bench.json parsed and every field checked, a unit or a
// fault at a time, into a SimBench the simulator can trust.
#include "sim/bench_json.h"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "platform/private_file.h"
#include "platform/system_text.h"
#include "sim/bench_json_values.h"
#include "sim/unit_addresses.h"

using nlohmann::json;

namespace bench_json {
namespace {

// A key given twice in one object: the parser keeps the last one without a
// word, so a second "units": [] would empty the bench. Watches the parse
// and refuses the repeat, naming the object it stands in as the field
// messages do ("units[1]").
class RepeatedKeys {
 public:
  bool See(json::parse_event_t event, const json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
        open_.push_back({true, {}, "", 0});
        break;
      case json::parse_event_t::array_start:
        open_.push_back({false, {}, "", 0});
        break;
      case json::parse_event_t::key: {
        const std::string& key = parsed.get_ref<const std::string&>();
        if (!open_.back().keys.insert(key).second) {
          Refuse(Where(), "\"" + key +
                              "\" is given twice (a reader would take the "
                              "last one only)");
        }
        open_.back().key = key;
        break;
      }
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        open_.pop_back();
        ElementDone();
        break;
      case json::parse_event_t::value:
        ElementDone();
        break;
    }
    return true;
  }

 private:
  struct Open {
    bool object;
    std::set<std::string> keys;
    std::string key;   // of the value being read, in an object
    size_t index = 0;  // of the element being read, in an array
  };

  void ElementDone() {
    if (!open_.empty() && !open_.back().object) ++open_.back().index;
  }

  // The object that is open innermost, as "units[1].identities".
  std::string Where() const {
    std::string where;
    for (size_t i = 1; i < open_.size(); ++i) {
      const Open& outer = open_[i - 1];
      if (outer.object) {
        where += (where.empty() ? "" : ".") + outer.key;
      } else {
        where += "[" + std::to_string(outer.index) + "]";
      }
    }
    return where;
  }

  std::vector<Open> open_;
};

void ReadTriple(const json& value, const std::string& where,
                SimIdentity* identity) {
  Array(value, where, 3);
  if (value.size() != 3) {
    Refuse(where, "expected [identityGroup, identityId, accessLevel]");
  }
  identity->identityGroup = U16(value[0], where + "[0]");
  identity->identityId = U16(value[1], where + "[1]");
  identity->accessLevel = U16(value[2], where + "[2]");
}

// The fields a unit's raw record holds, which a unit with one leaves out.
constexpr const char* kRawRecordFields[] = {
    "unitAddressA",    "unitAddressB",    "unitAddressC", "groupKey",
    "modelName",       "bootBranch",      "bootVersion",  "serialNumber",
    "unitKeyA",        "unitKeyB",        "unitLabel",    "unitCodeBranch",
    "unitCodeVersion", "unitCodeRevision"};

// `*givesAddress` and `*givesKeys` tell whether the unit names any part of
// its address and of its keys.
SimUnit ReadUnit(const json& value, const std::string& where,
                 bool* givesAddress, bool* givesKeys) {
  Fields f(value, where);
  SimUnit unit;
  *givesAddress = value.contains("unitAddressA") ||
                  value.contains("unitAddressB") ||
                  value.contains("unitAddressC");
  *givesKeys = value.contains("unitKeyA") || value.contains("unitKeyB");
  if (const json* v = f.Get("name")) unit.name = Text(*v, f.At("name"));
  struct U32Field {
    const char* key;
    uint32_t* to;
  };
  struct U16Field {
    const char* key;
    uint16_t* to;
  };
  for (const U32Field& field : {U32Field{"unitAddressA", &unit.unitAddressA},
                                U32Field{"unitAddressB", &unit.unitAddressB},
                                U32Field{"groupKey", &unit.groupKey},
                                U32Field{"eraseMs", &unit.eraseMs},
                                U32Field{"erasePolls", &unit.erasePolls},
                                U32Field{"programMs", &unit.programMs}}) {
    if (const json* v = f.Get(field.key)) *field.to = U32(*v, f.At(field.key));
  }
  for (const U16Field& field : {U16Field{"unitAddressC", &unit.unitAddressC},
                                U16Field{"bootBranch", &unit.bootBranch},
                                U16Field{"bootVersion", &unit.bootVersion},
                                U16Field{"unitKeyA", &unit.unitKeyA},
                                U16Field{"unitKeyB", &unit.unitKeyB}}) {
    if (const json* v = f.Get(field.key)) *field.to = U16(*v, f.At(field.key));
  }
  if (const json* v = f.Get("unitState")) {
    unit.unitState = U16(*v, f.At("unitState"));
  }
  bool namesRelease = false;
  for (const U16Field& field :
       {U16Field{"unitCodeBranch", &unit.unitCodeBranch},
        U16Field{"unitCodeVersion", &unit.unitCodeVersion},
        U16Field{"unitCodeRevision", &unit.unitCodeRevision}}) {
    if (const json* v = f.Get(field.key)) {
      *field.to = U16(*v, f.At(field.key));
      namesRelease = true;
    }
  }
  if (const json* v = f.Get("serialNumber")) {
    unit.serialNumber = static_cast<int32_t>(
        Integer(*v, f.At("serialNumber"), INT32_MIN, INT32_MAX));
  }
  if (const json* v = f.Get("modelName")) {
    unit.modelName = Text(*v, f.At("modelName"));
  }
  if (const json* v = f.Get("unitLabel")) {
    unit.unitLabel = Text(*v, f.At("unitLabel"));
  }
  if (const json* v = f.Get("codeFlash")) {
    unit.codeFlashFile = Text(*v, f.At("codeFlash"));
  }
  if (const json* v = f.Get("storeFlash")) {
    unit.storeFlashFile = Text(*v, f.At("storeFlash"));
  }
  if (const json* v = f.Get("identities"); v && v->is_null()) {
    unit.identitiesKnown = false;
  } else if (v) {
    const json& list =
        Array(*v, f.At("identities"), bench_limits::kMaxIdentities);
    for (size_t i = 0; i < list.size(); ++i) {
      SimIdentity identity;
      ReadTriple(list[i], f.At("identities") + "[" + std::to_string(i) + "]",
                 &identity);
      unit.identities.push_back(identity);
    }
  }
  if (const json* v = f.Get("rawRecord")) {
    unit.rawRecord = Hex(*v, f.At("rawRecord"));
  }
  f.Finish();
  if (unit.rawRecord) {
    // One source for what the unit shows: a field beside the record would
    // either repeat it or be silently overruled by it.
    for (const char* key : kRawRecordFields) {
      if (value.contains(key)) {
        Refuse(f.At(key), "the unit's rawRecord holds it; leave it out");
      }
    }
    if (unit.codeFlashFile.empty() && value.contains("unitState")) {
      Refuse(f.At("unitState"),
             "the unit's rawRecord holds it; leave it out (a unit with "
             "flash files may give the state it shows while its flash "
             "boots nothing)");
    }
    TakeRawRecordFields(unit);
  }
  if (namesRelease && !unit.codeFlashFile.empty()) {
    Refuse(where,
           "the unit's code release comes from its code flash; leave it out "
           "or give no flash files");
  }
  return unit;
}

FaultAction Action(const json& value, const std::string& where) {
  const std::string text = Text(value, where);
  static const std::pair<const char*, FaultAction> kActions[] = {
      {"resultCode", FaultAction::kResultCode},
      {"status", FaultAction::kStatus},
      {"emptyOutput", FaultAction::kEmptyOutput},
      {"wrongElementType", FaultAction::kWrongElementType},
      {"badLength", FaultAction::kBadLength},
      {"exit", FaultAction::kExit},
      {"throw", FaultAction::kThrow}};
  for (const auto& [name, action] : kActions) {
    if (text == name) return action;
  }
  Refuse(where, "unknown action \"" + text +
                    "\" (resultCode, status, emptyOutput, wrongElementType, "
                    "badLength, exit, throw)");
}

SimFault ReadFault(const json& value, const std::string& where) {
  Fields f(value, where);
  SimFault fault;
  const json* operation = f.Get("operation");
  if (!operation) Refuse(where, "a fault needs its \"operation\"");
  fault.operation = Text(*operation, f.At("operation"));
  const json* action = f.Get("action");
  if (!action) Refuse(where, "a fault needs its \"action\"");
  fault.action = Action(*action, f.At("action"));
  if (const json* v = f.Get("region")) {
    const std::string region = Text(*v, f.At("region"));
    if (region == "code") {
      fault.region = SimRegion::kCode;
    } else if (region == "store") {
      fault.region = SimRegion::kStore;
    } else {
      Refuse(f.At("region"), "expected \"code\" or \"store\"");
    }
  }
  if (const json* v = f.Get("call")) {
    fault.call =
        static_cast<uint32_t>(Integer(*v, f.At("call"), 1, UINT32_MAX));
  }
  if (const json* v = f.Get("value")) {
    fault.value = Integer(*v, f.At("value"), INT32_MIN, UINT32_MAX);
  }
  if (const json* v = f.Get("during")) fault.during = Flag(*v, f.At("during"));
  f.Finish();
  return fault;
}

SimBench ReadBench(const json& root, const std::string& folder) {
  Fields f(root, "");
  SimBench bench;
  bench.folder = folder;
  if (const json* v = f.Get("serverVersion")) {
    Array(*v, f.At("serverVersion"), 2);
    if (v->size() != 2)
      Refuse(f.At("serverVersion"), "expected [major, minor]");
    bench.versionMajor = U16((*v)[0], f.At("serverVersion") + "[0]");
    bench.versionMinor = U16((*v)[1], f.At("serverVersion") + "[1]");
  }
  if (const json* v = f.Get("readyState")) {
    bench.readyState = U16(*v, f.At("readyState"));
  }
  if (const json* v = f.Get("notReadyState")) {
    bench.notReadyState = U16(*v, f.At("notReadyState"));
  }
  if (const json* v = f.Get("accessLevelNames")) {
    const json& names = Object(*v, f.At("accessLevelNames"));
    if (names.size() > bench_limits::kMaxNames) {
      Refuse(f.At("accessLevelNames"), "too many names");
    }
    for (auto it = names.begin(); it != names.end(); ++it) {
      const std::string where = f.At("accessLevelNames") + "." + it.key();
      const uint16_t level = KeyNumber(it.key(), where, "\"accessLevel\"");
      bench.accessLevelNames[level] = Name(it.value(), where);
    }
  }
  if (const json* v = f.Get("identityNames")) {
    const json& names = Object(*v, f.At("identityNames"));
    if (names.size() > bench_limits::kMaxNames) {
      Refuse(f.At("identityNames"), "too many names");
    }
    for (auto it = names.begin(); it != names.end(); ++it) {
      const std::string where = f.At("identityNames") + "." + it.key();
      const std::string& key = it.key();
      const size_t slash = key.find('/');
      const char* expected = "\"identityGroup/identityId\"";
      if (slash == std::string::npos)
        Refuse(where, std::string("expected a key ") + expected);
      const uint16_t group = KeyNumber(key.substr(0, slash), where, expected);
      const uint16_t id = KeyNumber(key.substr(slash + 1), where, expected);
      bench.identityNames[{group, id}] = Name(it.value(), where);
    }
  }
  if (const json* v = f.Get("units")) {
    const json& units = Array(*v, f.At("units"), bench_limits::kMaxUnits);
    std::vector<size_t> withoutAddress;
    std::vector<size_t> withoutKeys;
    for (size_t i = 0; i < units.size(); ++i) {
      bool givesAddress = false;
      bool givesKeys = false;
      bench.units.push_back(ReadUnit(units[i],
                                     "units[" + std::to_string(i) + "]",
                                     &givesAddress, &givesKeys));
      if (!givesAddress) withoutAddress.push_back(i);
      if (!givesKeys) withoutKeys.push_back(i);
    }
    // Units written without them still stand apart.
    GiveFreeAddresses(bench, withoutAddress);
    GiveFreeKeys(bench, withoutKeys);
  }
  if (const json* v = f.Get("faults")) {
    const json& faults = Array(*v, f.At("faults"), bench_limits::kMaxFaults);
    for (size_t i = 0; i < faults.size(); ++i) {
      bench.faults.push_back(
          ReadFault(faults[i], "faults[" + std::to_string(i) + "]"));
    }
  }
  f.Finish();
  return bench;
}

}  // namespace
}  // namespace bench_json

SimBench ParseBench(const std::string& text, const std::string& folder) {
  if (text.size() > bench_limits::kMaxJsonBytes) {
    throw BenchError(std::string(kBenchFileName) + ": larger than " +
                     std::to_string(bench_limits::kMaxJsonBytes) + " bytes");
  }
  bench_json::CheckDepth(text);
  SimBench bench;
  try {
    bench_json::RepeatedKeys repeated;
    const json root = json::parse(
        text, [&repeated](int, json::parse_event_t event, json& parsed) {
          return repeated.See(event, parsed);
        });
    bench = bench_json::ReadBench(root, folder);
  } catch (const BenchError&) {
    throw;
  } catch (const json::parse_error& error) {
    throw BenchError(std::string(kBenchFileName) +
                     ": not valid JSON: " + error.what());
  } catch (const std::exception& error) {
    throw BenchError(std::string(kBenchFileName) + ": " + error.what());
  }
  try {
    ValidateBench(bench);
  } catch (const BenchError& error) {
    throw BenchError(std::string(kBenchFileName) + ": " + error.what());
  }
  return bench;
}

std::string ReadPlainFile(const std::string& path, uint64_t limit) {
  PrivateFile::Refusal refusal = PrivateFile::Refusal::kNone;
  std::unique_ptr<PrivateFile> file =
      PrivateFile::Open(path, PrivateFile::Mode::kRead, &refusal);
  if (!file) {
    // Never waited on nor read: a pipe or a device there could hold the
    // server up for ever.
    if (refusal == PrivateFile::Refusal::kNotPlainFile ||
        refusal == PrivateFile::Refusal::kLink) {
      throw BenchError(path +
                       ": cannot be read: not a plain file (a folder, a "
                       "pipe, a device or a symbolic link, which is not "
                       "followed)");
    }
    throw BenchError(path + ": cannot be read");
  }
  // The size first, so that a huge file is refused without first filling
  // the memory: one byte past the limit is enough to tell.
  const int64_t size = file->Size();
  if (size < 0) throw BenchError(path + ": cannot be read");
  const size_t length = static_cast<size_t>(
      std::min<uint64_t>(static_cast<uint64_t>(size), limit + uint64_t{1}));
  std::string text(length, '\0');
  if (length > 0 && !file->ReadAt(0, text.data(), length)) {
    throw BenchError(path + ": cannot be read");
  }
  return text;
}

SimBench LoadBench(const std::string& folder) {
  const std::string text =
      ReadPlainFile(folder + "/" + kBenchFileName, bench_limits::kMaxJsonBytes);
  try {
    return ParseBench(text, folder);
  } catch (const BenchError& error) {
    throw BenchError(folder + "/" + error.what());
  }
}

#include "sim/bench_json.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "server/device_record.h"
#include "sim/bench_files.h"
#include "sim/flash_file.h"
#include "sim/unit_addresses.h"

using nlohmann::json;
// Written benches keep their fields in a reading order.
using ordered = nlohmann::ordered_json;

namespace {

// `where` is the path to the field, empty for the whole bench.
[[noreturn]] void Refuse(const std::string& where, const std::string& what) {
  throw BenchError(std::string(kBenchFileName) + ": " +
                   (where.empty() ? "" : where + ": ") + what);
}

// nlohmann parses without recursion, but a bench never nests deeply, and
// refusing deep nesting up front keeps every later step cheap.
void CheckDepth(const std::string& text) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > bench_limits::kMaxJsonDepth) {
        throw BenchError(std::string(kBenchFileName) + ": nested more than " +
                         std::to_string(bench_limits::kMaxJsonDepth) +
                         " levels deep");
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
}

// An integer within [min, max]: a JSON integer, or a string "0x..." in
// hexadecimal.
int64_t Integer(const json& value, const std::string& where, int64_t min,
                int64_t max) {
  int64_t number = 0;
  bool ok = false;
  if (value.is_number_unsigned()) {
    const uint64_t u = value.get<uint64_t>();
    ok = u <= static_cast<uint64_t>(INT64_MAX);
    number = static_cast<int64_t>(u);
  } else if (value.is_number_integer()) {
    number = value.get<int64_t>();
    ok = true;
  } else if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > 2 && text.size() <= 18 && text[0] == '0' &&
        (text[1] == 'x' || text[1] == 'X')) {
      uint64_t u = 0;
      ok = true;
      for (size_t i = 2; i < text.size() && ok; ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        ok = digit >= 0 && u <= (UINT64_MAX >> 4);
        u = u << 4 | static_cast<uint64_t>(digit < 0 ? 0 : digit);
      }
      ok = ok && u <= static_cast<uint64_t>(INT64_MAX);
      number = static_cast<int64_t>(u);
    }
  }
  if (!ok || number < min || number > max) {
    Refuse(where, "expected a whole number from " + std::to_string(min) +
                      " to " + std::to_string(max));
  }
  return number;
}

uint16_t U16(const json& value, const std::string& where) {
  return static_cast<uint16_t>(Integer(value, where, 0, UINT16_MAX));
}

uint32_t U32(const json& value, const std::string& where) {
  return static_cast<uint32_t>(Integer(value, where, 0, UINT32_MAX));
}

std::string Text(const json& value, const std::string& where) {
  if (!value.is_string()) Refuse(where, "expected a text");
  return value.get<std::string>();
}

bool Flag(const json& value, const std::string& where) {
  if (!value.is_boolean()) Refuse(where, "expected true or false");
  return value.get<bool>();
}

SimName Name(const json& value, const std::string& where) {
  if (value.is_null()) return std::nullopt;
  if (!value.is_string()) Refuse(where, "expected a text or null");
  return value.get<std::string>();
}

const json& Object(const json& value, const std::string& where) {
  if (!value.is_object()) Refuse(where, "expected an object");
  return value;
}

const json& Array(const json& value, const std::string& where, size_t maxSize) {
  if (!value.is_array()) Refuse(where, "expected an array");
  if (value.size() > maxSize) {
    Refuse(where, "more than " + std::to_string(maxSize) + " entries");
  }
  return value;
}

// Reads the fields of an object, refusing those it does not know, so that
// a misspelt field is reported instead of silently taking its default.
class Fields {
 public:
  Fields(const json& object, std::string where)
      : object_(Object(object, where)), where_(std::move(where)) {}

  /// The field, or nullptr when absent.
  const json* Get(const std::string& key) {
    known_.insert(key);
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }
  std::string At(const std::string& key) const {
    return where_.empty() ? key : where_ + "." + key;
  }
  const std::string& where() const { return where_; }

  /// Refuses fields that were never asked for.
  void Finish() const {
    for (auto it = object_.begin(); it != object_.end(); ++it) {
      if (known_.count(it.key()) == 0) {
        Refuse(where_, "unknown field \"" + it.key() + "\"");
      }
    }
  }

 private:
  const json& object_;
  std::string where_;
  std::set<std::string> known_;
};

std::vector<uint8_t> Hex(const json& value, const std::string& where) {
  const std::string text = Text(value, where);
  if (text.size() != 2 * kDeviceRecordSize) {
    Refuse(where, "expected 1256 bytes as 2512 hexadecimal digits");
  }
  std::vector<uint8_t> bytes(kDeviceRecordSize);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0)
      Refuse(where, "not a hexadecimal digit at " + std::to_string(i));
    bytes[i / 2] = static_cast<uint8_t>(bytes[i / 2] << 4 | digit);
  }
  return bytes;
}

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
  if (const json* v = f.Get("identities")) {
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
      {"exit", FaultAction::kExit}};
  for (const auto& [name, action] : kActions) {
    if (text == name) return action;
  }
  Refuse(where, "unknown action \"" + text +
                    "\" (resultCode, status, emptyOutput, wrongElementType, "
                    "badLength, exit)");
}

const char* ActionName(FaultAction action) {
  switch (action) {
    case FaultAction::kResultCode:
      return "resultCode";
    case FaultAction::kStatus:
      return "status";
    case FaultAction::kEmptyOutput:
      return "emptyOutput";
    case FaultAction::kWrongElementType:
      return "wrongElementType";
    case FaultAction::kBadLength:
      return "badLength";
    case FaultAction::kExit:
      return "exit";
  }
  return "";
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

// A decimal number of at most five digits, as in the keys of the name maps.
uint16_t KeyNumber(const std::string& digits, const std::string& where,
                   const char* expected) {
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    Refuse(where, std::string("expected a key ") + expected);
  }
  return U16(json(std::stoll(digits)), where);
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

// "0x" and eight hexadecimal digits, as keys are usually written.
std::string HexNumber(uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Puts arrays that hold only numbers on one line: [1, 5] reads better than
// one number per line.
std::string CompactNumberArrays(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {  // copy a string whole
      const size_t start = i++;
      while (i < text.size() && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
      out.append(text, start, ++i - start);
      continue;
    }
    if (c == '[') {
      const size_t close = text.find_first_of("[]{\"", i + 1);
      if (close != std::string::npos && text[close] == ']') {
        std::string inner;
        for (size_t k = i + 1; k < close; ++k) {
          if (text[k] == ',') {
            inner += ", ";
          } else if (text[k] != ' ' && text[k] != '\n') {
            inner += text[k];
          }
        }
        out += "[" + inner + "]";
        i = close + 1;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

ordered NameValue(const SimName& name) {
  return name ? ordered(*name) : ordered(nullptr);
}

ordered UnitJson(const SimUnit& unit) {
  ordered j = ordered::object();
  j["name"] = unit.name;
  if (unit.rawRecord) j["rawRecord"] = HexText(*unit.rawRecord);
  j["unitAddressA"] = HexNumber(unit.unitAddressA);
  j["unitAddressB"] = HexNumber(unit.unitAddressB);
  j["unitAddressC"] = unit.unitAddressC;
  j["groupKey"] = HexNumber(unit.groupKey);
  j["modelName"] = unit.modelName;
  j["bootBranch"] = unit.bootBranch;
  j["bootVersion"] = unit.bootVersion;
  if (unit.unitState || !unit.flashSimulated()) {
    j["unitState"] = unit.unitState.value_or(0);
  }
  if (!unit.flashSimulated()) {
    j["unitCodeBranch"] = unit.unitCodeBranch;
    j["unitCodeVersion"] = unit.unitCodeVersion;
    j["unitCodeRevision"] = unit.unitCodeRevision;
  }
  j["serialNumber"] = unit.serialNumber;
  j["unitKeyA"] = unit.unitKeyA;
  j["unitKeyB"] = unit.unitKeyB;
  j["unitLabel"] = unit.unitLabel;
  ordered identities = ordered::array();
  for (const SimIdentity& identity : unit.identities) {
    identities.push_back(ordered::array(
        {identity.identityGroup, identity.identityId, identity.accessLevel}));
  }
  j["identities"] = identities;
  if (unit.flashSimulated()) {
    j["codeFlash"] = unit.codeFlashFile;
    j["storeFlash"] = unit.storeFlashFile;
  }
  j["eraseMs"] = unit.eraseMs;
  j["erasePolls"] = unit.erasePolls;
  j["programMs"] = unit.programMs;
  return j;
}

ordered FaultJson(const SimFault& fault) {
  ordered j = ordered::object();
  j["operation"] = fault.operation;
  if (fault.region) j["region"] = RegionName(*fault.region);
  if (fault.call) j["call"] = *fault.call;
  j["action"] = ActionName(fault.action);
  if (fault.value) j["value"] = *fault.value;
  if (fault.during) j["during"] = true;
  return j;
}

}  // namespace

SimBench ParseBench(const std::string& text, const std::string& folder) {
  if (text.size() > bench_limits::kMaxJsonBytes) {
    throw BenchError(std::string(kBenchFileName) + ": larger than " +
                     std::to_string(bench_limits::kMaxJsonBytes) + " bytes");
  }
  CheckDepth(text);
  SimBench bench;
  try {
    const json root = json::parse(text);
    bench = ReadBench(root, folder);
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

SimBench LoadBench(const std::string& folder) {
  const std::string path = folder + "/" + kBenchFileName;
  std::ifstream file(path, std::ios::binary);
  if (!file) throw BenchError(path + ": cannot be read");
  std::ostringstream text;
  text << file.rdbuf();
  if (!file.good() && !file.eof()) throw BenchError(path + ": cannot be read");
  try {
    return ParseBench(text.str(), folder);
  } catch (const BenchError& error) {
    throw BenchError(folder + "/" + error.what());
  }
}

std::string BenchToJson(const SimBench& bench) {
  ordered j = ordered::object();
  j["serverVersion"] = ordered::array({bench.versionMajor, bench.versionMinor});
  j["readyState"] = bench.readyState;
  j["notReadyState"] = bench.notReadyState;
  ordered levels = ordered::object();
  for (const auto& [level, name] : bench.accessLevelNames) {
    levels[std::to_string(level)] = NameValue(name);
  }
  j["accessLevelNames"] = levels;
  ordered identities = ordered::object();
  for (const auto& [key, name] : bench.identityNames) {
    identities[std::to_string(key.first) + "/" + std::to_string(key.second)] =
        NameValue(name);
  }
  j["identityNames"] = identities;
  ordered units = ordered::array();
  for (const SimUnit& unit : bench.units) units.push_back(UnitJson(unit));
  j["units"] = units;
  ordered faults = ordered::array();
  for (const SimFault& fault : bench.faults) faults.push_back(FaultJson(fault));
  j["faults"] = faults;
  // Texts are written as given, so a bench keeps its non-ASCII names
  // readable; bytes that are not UTF-8 are written as U+FFFD.
  return CompactNumberArrays(
             j.dump(2, ' ', false, ordered::error_handler_t::replace)) +
         "\n";
}

void SaveBench(const SimBench& bench) {
  ValidateBench(bench);
  if (bench.folder.empty()) throw BenchError("the bench has no folder");
  CreateBenchFolder(bench.folder);
  ReplaceFileContents(bench.folder + "/" + kBenchFileName, BenchToJson(bench));
  for (const SimUnit& unit : bench.units) {
    if (!unit.flashSimulated()) continue;
    FlashFile(bench.folder + "/" + unit.codeFlashFile, SimRegion::kCode)
        .Prepare();
    FlashFile(bench.folder + "/" + unit.storeFlashFile, SimRegion::kStore)
        .Prepare();
  }
}

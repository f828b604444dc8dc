#include "sim/record_bench.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "platform/private_file.h"
#include "platform/system_text.h"
#include "report/job_record.h"
#include "server/device_record.h"
#include "server/server_interfaces.h"
#include "sim/bench_flash.h"
#include "sim/bench_json.h"
#include "sim/flash_file.h"
#include "sim/sample_blocks.h"
#include "sim/store_flash_check.h"

using nlohmann::json;

namespace {

// As the tool lists units: from this state on a unit of the tool's model
// may be chosen, and above it its code release is shown.
constexpr uint16_t kChoosableFrom = 1000;
constexpr uint16_t kReleaseShownAbove = 1000;

// What a region holds that the record shows was not blank: too little to
// be code or a profile, enough for an erase to have work to do.
constexpr size_t kNotBlankBytes = 16;
// The length and content of a made-up code block and profile: the default
// bench's, so that a tool's image fits the code flash beside it.
constexpr uint32_t kShownCodeLength = 0x40000;
constexpr uint32_t kShownProfileLength = 0x20000;

const std::set<std::string> kSteps = {
    "code group",  "code erase",    "code program", "store group",
    "store erase", "store program", "reset"};
const std::set<std::string> kEntries = {
    "job",  "firmware", "screen", "answer",   "call",
    "unit", "restamp",  "step",   "step end", "end"};

std::vector<uint8_t> ShownCode(const std::string& model,
                               const CodeRelease& release) {
  SampleCodeBlock code;
  code.targetName = model;
  code.codeBranch = release.branch;
  code.codeVersion = release.version;
  code.codeRevision = release.revision;
  code.length = kShownCodeLength;
  return MakeSampleCodeBlock(code);
}

std::vector<uint8_t> ShownProfile(const std::string& model,
                                  const CodeRelease& release) {
  SampleProfileBlock profile;
  profile.targetName = model;
  profile.codeBranch = release.branch;
  profile.codeVersion = release.version;
  profile.minCodeRevision = release.revision;
  profile.maxCodeRevision = release.revision;
  profile.length = kShownProfileLength;
  return MakeSampleProfileBlock(profile);
}

// One line of the record, and the refusals that name it.
struct Line {
  const std::string& path;
  size_t number;
  const json& entry;

  [[noreturn]] void Refuse(const std::string& what) const {
    throw BenchError(path + ": line " + std::to_string(number) + ": " + what);
  }
  const json& Need(const char* key) const {
    auto it = entry.find(key);
    if (it == entry.end()) Refuse(std::string("no \"") + key + "\"");
    return *it;
  }
  int64_t Integer(const char* key, int64_t min, int64_t max) const {
    const json& value = Need(key);
    if (!value.is_number_integer() || value.get<int64_t>() < min ||
        value.get<int64_t>() > max) {
      Refuse(std::string("\"") + key + "\" is not a whole number from " +
             std::to_string(min) + " to " + std::to_string(max));
    }
    return value.get<int64_t>();
  }
  uint16_t U16(const char* key) const {
    return static_cast<uint16_t>(Integer(key, 0, UINT16_MAX));
  }
  std::string Text(const char* key) const {
    const json& value = Need(key);
    if (!value.is_string()) Refuse(std::string("\"") + key + "\" is no text");
    return value.get<std::string>();
  }
  bool Flag(const char* key) const {
    const json& value = Need(key);
    if (!value.is_boolean()) {
      Refuse(std::string("\"") + key + "\" is not true or false");
    }
    return value.get<bool>();
  }
  // A name the server gave, or none: absent or null.
  SimName Name() const {
    auto it = entry.find("name");
    if (it == entry.end() || it->is_null()) return std::nullopt;
    if (!it->is_string()) Refuse("\"name\" is no text");
    return it->get<std::string>();
  }
  // An HRESULT as the record writes it, "0x" and eight hexadecimal digits.
  uint32_t Result(const char* key = "result") const {
    const std::string text = Text(key);
    std::vector<uint8_t> bytes;
    if (text.size() != 10 || text.compare(0, 2, "0x") != 0 ||
        !HexDigits(text.substr(2), &bytes)) {
      Refuse(std::string("\"") + key + "\" is not a result (\"0x\" and " +
             "eight hexadecimal digits)");
    }
    return static_cast<uint32_t>(bytes[0]) << 24 |
           static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  }
  std::vector<uint8_t> Hex(const json& value, const std::string& what) const {
    std::vector<uint8_t> bytes;
    if (!value.is_string() || !HexDigits(value.get<std::string>(), &bytes)) {
      Refuse(what + " is not hexadecimal bytes");
    }
    return bytes;
  }

  static bool HexDigits(const std::string& text, std::vector<uint8_t>* bytes) {
    if (text.size() % 2 != 0) return false;
    const auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    bytes->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
      const int high = digit(text[i]);
      const int low = digit(text[i + 1]);
      if (high < 0 || low < 0) return false;
      bytes->push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
  }
};

struct StepEnd {
  size_t line = 0;
  uint32_t durationMs = 0;
  uint32_t busy = 0;
  uint32_t result = 0;
  std::optional<uint16_t> status;
  bool blank = false;
};

// Everything of the record a bench is made of, as read line by line.
struct Recorded {
  std::string target;
  std::optional<std::pair<uint16_t, uint16_t>> version;
  std::optional<size_t> detectLine;
  std::vector<std::vector<uint8_t>> units;
  struct Identities {
    size_t line = 0;
    uint16_t keyA = 0;
    uint16_t keyB = 0;
    std::vector<SimIdentity> list;
  };
  std::optional<Identities> identities;
  std::optional<std::pair<size_t, std::vector<uint8_t>>> opened;  // 10 bytes
  std::optional<std::pair<size_t, int32_t>> chosenSerial;
  std::set<std::string> stepsBegun;
  std::set<std::string> erasing;  // erases StartErase answered busy
  std::map<std::string, StepEnd> stepEnds;
  std::map<uint16_t, SimName> accessNames;
  std::map<std::pair<uint16_t, uint16_t>, SimName> identityNames;
  std::map<std::string, uint32_t> calls;  // per operation, for faults
  std::vector<SimFault> faults;
  std::vector<std::string> notes;
};

SimFault ResultFault(const std::string& operation, uint32_t call,
                     uint32_t result) {
  SimFault fault;
  fault.operation = operation;
  fault.call = call;
  fault.action = FaultAction::kResultCode;
  fault.value = static_cast<int32_t>(result);
  return fault;
}

SimFault OutputFault(const std::string& operation, uint32_t call,
                     FaultAction action,
                     std::optional<int64_t> value = std::nullopt) {
  SimFault fault;
  fault.operation = operation;
  fault.call = call;
  fault.action = action;
  fault.value = value;
  return fault;
}

template <typename Key>
void KeepName(std::map<Key, SimName>& names, const Key& key,
              const SimName& name, const Line& line) {
  const auto [it, fresh] = names.emplace(key, name);
  if (!fresh && it->second != name) {
    line.Refuse(
        "the server names this twice, differently; a bench answers one "
        "name");
  }
}

// An array answer that was no array, or none of the right elements.
bool ReadArrayKind(const Line& line, const std::string& operation,
                   uint32_t call, Recorded* recorded) {
  auto it = line.entry.find("array");
  if (it == line.entry.end()) return false;
  const std::string kind = line.Text("array");
  if (kind == "none") {
    recorded->faults.push_back(
        OutputFault(operation, call, FaultAction::kEmptyOutput));
  } else if (kind == "not bytes" || kind == "not as expected") {
    recorded->faults.push_back(
        OutputFault(operation, call, FaultAction::kWrongElementType));
    recorded->notes.push_back(operation +
                              " answered an array of other elements; the "
                              "bench answers one of another type, which "
                              "need not be the same type");
  } else {
    line.Refuse("\"array\" says neither \"none\" nor \"not bytes\"");
  }
  return true;
}

void ReadCall(const Line& line, Recorded* recorded) {
  const std::string operation = line.Text("call");
  static const std::set<std::string> kCalls = {
      "GetVersion",    "SetProfile",        "DetectDevices",
      "GetIdentities", "GetIdentityName",   "GetAccessName",
      "OpenDevice",    "GetCodeProgrammer", "GetStoreProgrammer"};
  if (kCalls.count(operation) == 0) {
    line.Refuse("unknown call \"" + operation + "\"");
  }
  const uint32_t call = ++recorded->calls[operation];
  const uint32_t result = line.Result();
  // What a call that failed was to answer, the server never said.
  if (result != 0) {
    recorded->faults.push_back(ResultFault(operation, call, result));
    if (static_cast<int32_t>(result) < 0) return;
  }
  if (operation == "GetVersion") {
    if (!recorded->version) {
      recorded->version = {line.U16("major"), line.U16("minor")};
    }
  } else if (operation == "DetectDevices") {
    if (recorded->detectLine) {
      line.Refuse("a second DetectDevices answer; a job lists its units once");
    }
    recorded->detectLine = line.number;
    if (ReadArrayKind(line, operation, call, recorded)) return;
    const json& units = line.Need("units");
    if (!units.is_array()) line.Refuse("\"units\" is no list");
    for (size_t i = 0; i < units.size(); ++i) {
      const std::string what = "units[" + std::to_string(i) + "]";
      std::vector<uint8_t> bytes = line.Hex(units[i], what);
      if (bytes.size() != kDeviceRecordSize) {
        line.Refuse(what + " holds " + std::to_string(bytes.size()) +
                    " bytes, not a unit record's 1256");
      }
      recorded->units.push_back(std::move(bytes));
    }
    auto rest = line.entry.find("rest");
    if (rest != line.entry.end()) {
      const std::vector<uint8_t> bytes = line.Hex(*rest, "\"rest\"");
      if (!bytes.empty()) {
        recorded->faults.push_back(
            OutputFault(operation, call, FaultAction::kBadLength,
                        static_cast<int64_t>(units.size() * kDeviceRecordSize +
                                             bytes.size())));
        recorded->notes.push_back(
            "DetectDevices answered " + std::to_string(bytes.size()) +
            " bytes past its last whole unit record; the bench answers as "
            "many, all zero");
      }
    }
  } else if (operation == "GetIdentities") {
    if (ReadArrayKind(line, operation, call, recorded)) return;
    Recorded::Identities identities;
    identities.line = line.number;
    identities.keyA = line.U16("unit key a");
    identities.keyB = line.U16("unit key b");
    const json& list = line.Need("identities");
    if (!list.is_array()) line.Refuse("\"identities\" is no list");
    for (const json& triple : list) {
      if (!triple.is_array() || triple.size() != 3) {
        line.Refuse("an identity is not [group, id, access]");
      }
      for (const json& part : triple) {
        if (!part.is_number_unsigned() || part.get<uint64_t>() > UINT16_MAX) {
          line.Refuse("an identity holds a number that is not 0 to 65535");
        }
      }
      identities.list.push_back({triple[0].get<uint16_t>(),
                                 triple[1].get<uint16_t>(),
                                 triple[2].get<uint16_t>()});
    }
    auto rest = line.entry.find("rest");
    if (rest != line.entry.end()) {
      const std::vector<uint8_t> bytes = line.Hex(*rest, "\"rest\"");
      if (!bytes.empty()) {
        recorded->faults.push_back(
            OutputFault(operation, call, FaultAction::kBadLength,
                        static_cast<int64_t>(identities.list.size() * 3 +
                                             (bytes.size() + 1) / 2)));
        recorded->notes.push_back(
            "GetIdentities answered words past its last whole identity; the "
            "bench answers as many, all zero");
      }
    }
    if (!recorded->identities) recorded->identities = identities;
  } else if (operation == "GetIdentityName") {
    KeepName(
        recorded->identityNames,
        std::make_pair(line.U16("identity group"), line.U16("identity id")),
        line.Name(), line);
  } else if (operation == "GetAccessName") {
    KeepName(recorded->accessNames, line.U16("access level"), line.Name(),
             line);
  } else if (operation == "OpenDevice") {
    std::vector<uint8_t> address(10);
    const uint32_t a =
        static_cast<uint32_t>(line.Integer("unit address a", 0, UINT32_MAX));
    const uint32_t b =
        static_cast<uint32_t>(line.Integer("unit address b", 0, UINT32_MAX));
    const uint16_t c = line.U16("unit address c");
    for (size_t i = 0; i < 4; ++i) {
      address[i] = static_cast<uint8_t>(a >> (8 * i));
      address[4 + i] = static_cast<uint8_t>(b >> (8 * i));
    }
    address[8] = static_cast<uint8_t>(c);
    address[9] = static_cast<uint8_t>(c >> 8);
    if (!recorded->opened) recorded->opened = {{line.number, address}};
    if (!line.Flag("given")) {
      recorded->faults.push_back(
          OutputFault(operation, call, FaultAction::kEmptyOutput));
    }
  } else if (operation == "GetCodeProgrammer" ||
             operation == "GetStoreProgrammer") {
    line.U16("unit key a");
    line.U16("identity id");
    if (!line.Flag("given")) {
      recorded->faults.push_back(
          OutputFault(operation, call, FaultAction::kEmptyOutput));
    }
  }
}

void ReadStepEnd(const Line& line, Recorded* recorded) {
  const std::string step = line.Text("step");
  if (kSteps.count(step) == 0) line.Refuse("unknown step \"" + step + "\"");
  StepEnd end;
  end.line = line.number;
  end.durationMs =
      static_cast<uint32_t>(line.Integer("duration ms", 0, UINT32_MAX));
  end.busy = static_cast<uint32_t>(line.Integer("busy", 0, UINT32_MAX));
  end.result = line.Result();
  if (line.entry.contains("status")) end.status = line.U16("status");
  if (line.entry.contains("blank")) end.blank = line.Flag("blank");
  if (!recorded->stepEnds.emplace(step, end).second) {
    line.Refuse("step \"" + step + "\" ends twice");
  }
}

// The job line: a record of this format, written by the tool.
void ReadJob(const Line& line) {
  if (line.Text("entry") != "job") {
    line.Refuse(
        "the first line is not the \"job\" line; this is no job "
        "record, or its start is missing");
  }
  const json& format = line.Need("format");
  if (!format.is_number_integer() || format.get<int64_t>() < 1) {
    line.Refuse("\"format\" is not a format number");
  }
  if (format.get<int64_t>() > kJobRecordFormat) {
    line.Refuse("format " + std::to_string(format.get<int64_t>()) +
                " is of a later ecuprog; this simulator reads records of "
                "format " +
                std::to_string(kJobRecordFormat) + " only");
  }
  if (line.Text("tool") != "ecuprog") line.Refuse("not a record of ecuprog");
}

Recorded ReadLines(const std::string& text, const std::string& path) {
  Recorded recorded;
  std::string openStep;
  size_t number = 0;
  size_t start = 0;
  while (start < text.size()) {
    ++number;
    const size_t end = text.find('\n', start);
    const json empty;
    if (end == std::string::npos) {
      Line{path, number, empty}.Refuse(
          "the line is not ended; every line of a record is written whole, "
          "so this one is damaged");
    }
    json entry;
    try {
      entry = json::parse(text.begin() + static_cast<std::ptrdiff_t>(start),
                          text.begin() + static_cast<std::ptrdiff_t>(end));
    } catch (const json::exception& error) {
      Line{path, number, empty}.Refuse(std::string("damaged: not JSON (") +
                                       error.what() + ")");
    }
    start = end + 1;
    const Line line{path, number, entry};
    if (!entry.is_object()) line.Refuse("damaged: not a JSON object");
    const std::string kind = line.Text("entry");
    const json& ms = line.Need("ms");
    if (!ms.is_number() || ms.get<double>() < 0) {
      line.Refuse("\"ms\" is not a time since the record was opened");
    }
    if (number == 1) {
      ReadJob(line);
      continue;
    }
    if (kEntries.count(kind) == 0) {
      line.Refuse("unknown entry \"" + kind + "\"");
    }
    if (kind == "job") line.Refuse("a second \"job\" line");
    if (kind == "firmware") {
      recorded.target = line.Text("target");
    } else if (kind == "call") {
      ReadCall(line, &recorded);
    } else if (kind == "unit") {
      recorded.chosenSerial = {number, static_cast<int32_t>(line.Integer(
                                           "serial", INT32_MIN, INT32_MAX))};
    } else if (kind == "step") {
      const std::string step = line.Text("step");
      if (kSteps.count(step) == 0) {
        line.Refuse("unknown step \"" + step + "\"");
      }
      recorded.stepsBegun.insert(step);
      openStep = step;
    } else if (kind == "step end") {
      ReadStepEnd(line, &recorded);
      openStep.clear();
    } else if (kind == "screen") {
      // The tool says "erasing" once StartErase has answered busy: an erase
      // that ends after it ended at a poll.
      if (line.Text("text").find("erasing") != std::string::npos &&
          !openStep.empty()) {
        recorded.erasing.insert(openStep);
      }
    }
  }
  if (number == 0) throw BenchError(path + ": empty, no job record");
  return recorded;
}

DeviceRecord AsRecord(const std::vector<uint8_t>& bytes) {
  DeviceRecord record;
  std::copy_n(bytes.begin(), kDeviceRecordSize, record.bytes);
  return record;
}

// The unit the tool chose: of the units it offered, the last one listed
// with the serial number answered.
std::optional<size_t> ChosenIndex(const Recorded& recorded) {
  std::optional<size_t> chosen;
  for (size_t i = 0; i < recorded.units.size(); ++i) {
    const DeviceRecord unit = AsRecord(recorded.units[i]);
    if (unit.unitState() >= kChoosableFrom &&
        unit.modelName() == recorded.target &&
        unit.serialNumber() == recorded.chosenSerial->second) {
      chosen = i;
    }
  }
  return chosen;
}

// A step's request that the server refused, answered again at the same
// call. An erase that StartErase had begun ends with the poll after its
// busy answers; one it had not, at StartErase itself.
void AddStepFault(const std::string& step, const StepEnd& end, bool erasing,
                  std::vector<SimFault>* faults) {
  const bool failed = end.result != 0;
  const bool refused =
      end.status && *end.status != kStatusDone && *end.status != kStatusBusy;
  if (!failed && !refused) return;
  SimFault fault;
  fault.region =
      step.rfind("code", 0) == 0 ? SimRegion::kCode : SimRegion::kStore;
  fault.call = 1;
  if (step == "reset") {
    fault.operation = "ResetDevice";
  } else if (step.find("group") != std::string::npos) {
    fault.operation = "AcquireGroup";
  } else if (step.find("program") != std::string::npos) {
    fault.operation = "ProgramRegion";
  } else if (!erasing) {
    fault.operation = "StartErase";
  } else {
    fault.operation = "PollErase";
    fault.call = end.busy + 1;
  }
  if (failed) {
    fault.action = FaultAction::kResultCode;
    fault.value = static_cast<int32_t>(end.result);
  } else {
    fault.action = FaultAction::kStatus;
    fault.value = *end.status;
  }
  faults->push_back(fault);
}

// Whether the step ran to its end as the tool wanted, with work done.
bool WorkDone(const std::map<std::string, StepEnd>& ends,
              const std::string& step, const StepEnd** end) {
  auto it = ends.find(step);
  if (it == ends.end()) return false;
  *end = &it->second;
  return it->second.result == 0 && it->second.status.value_or(0) == 0 &&
         !it->second.blank;
}

// Times far enough apart for a person to notice on the console.
bool FarApart(uint32_t a, uint32_t b) {
  const uint32_t apart = a > b ? a - b : b - a;
  return apart > 100 && apart > std::max(a, b) / 4;
}

uint32_t Capped(uint32_t value, uint32_t most, const std::string& what,
                std::vector<std::string>* notes) {
  if (value <= most) return value;
  notes->push_back(what + " is " + std::to_string(value) +
                   "; the bench takes at most " + std::to_string(most));
  return most;
}

// The chosen unit's erase and program times, from the recorded steps: a
// unit has one erase time and one program time for both regions, taken
// from the code flash's steps where they ran.
void TakeTimes(const Recorded& recorded, SimUnit* unit,
               std::vector<std::string>* notes) {
  const StepEnd* code = nullptr;
  const StepEnd* store = nullptr;
  const bool codeErased = WorkDone(recorded.stepEnds, "code erase", &code);
  const bool storeErased = WorkDone(recorded.stepEnds, "store erase", &store);
  // An erase that failed while busy sets the times too: its polls answer
  // busy until the one that failed (AddStepFault).
  const StepEnd* erase = codeErased ? code : storeErased ? store : nullptr;
  for (const char* step : {"code erase", "store erase"}) {
    auto it = recorded.stepEnds.find(step);
    if (!erase && it != recorded.stepEnds.end() && !it->second.blank) {
      erase = &it->second;
    }
  }
  if (erase) {
    unit->eraseMs = Capped(erase->durationMs, bench_limits::kMaxDurationMs,
                           "an erase's duration (ms)", notes);
    // The polls that answered busy (StartErase's own busy answer is not
    // among them).
    unit->erasePolls = Capped(erase->busy, bench_limits::kMaxErasePolls,
                              "an erase's busy answers", notes);
  }
  if (codeErased && storeErased &&
      FarApart(code->durationMs, store->durationMs)) {
    notes->push_back("the store flash erase takes the code flash erase's " +
                     std::to_string(code->durationMs) +
                     " ms: a simulated unit has one erase time (recorded: " +
                     std::to_string(store->durationMs) + " ms)");
  }
  const bool codeProgrammed =
      WorkDone(recorded.stepEnds, "code program", &code);
  const bool storeProgrammed =
      WorkDone(recorded.stepEnds, "store program", &store);
  const StepEnd* program = codeProgrammed    ? code
                           : storeProgrammed ? store
                                             : nullptr;
  if (program) {
    unit->programMs = Capped(program->durationMs, bench_limits::kMaxDurationMs,
                             "a program step's duration (ms)", notes);
  }
  if (codeProgrammed && storeProgrammed &&
      FarApart(code->durationMs, store->durationMs)) {
    notes->push_back("the store flash program step takes the code flash's " +
                     std::to_string(code->durationMs) +
                     " ms: a simulated unit has one program time (recorded: " +
                     std::to_string(store->durationMs) + " ms)");
  }
}

// What a region holds for the erase the record shows: erased where the
// erase found it blank or never ran, something to erase where it erased.
ReplayFlash RegionForErase(const Recorded& recorded, const std::string& step) {
  const StepEnd* end = nullptr;
  if (WorkDone(recorded.stepEnds, step, &end)) return ReplayFlash::kNotBlank;
  return ReplayFlash::kErased;
}

void MakeChosen(const std::string& path, const Recorded& recorded, size_t index,
                ReplayBench* replay) {
  SimUnit& unit = replay->bench.units[index];
  const DeviceRecord shown = AsRecord(*unit.rawRecord);
  const std::string where =
      path + ": line " + std::to_string(recorded.chosenSerial->first) + ": ";
  replay->chosenUnit = unit.name;
  replay->chosenSerial = shown.serialNumber();
  unit.codeFlashFile = unit.name + "-code.bin";
  unit.storeFlashFile = unit.name + "-store.bin";
  // From here on its flash says what it shows.
  unit.unitState.reset();
  unit.unitCodeBranch = 0;
  unit.unitCodeVersion = 0;
  unit.unitCodeRevision = 0;
  if (recorded.opened &&
      std::memcmp(recorded.opened->second.data(), shown.bytes, 10) != 0) {
    throw BenchError(path + ": line " + std::to_string(recorded.opened->first) +
                     ": OpenDevice opened another address than the chosen "
                     "unit's (listed as " +
                     unit.name + ")");
  }
  unit.identitiesKnown = false;
  if (recorded.identities) {
    if (recorded.identities->keyA != shown.unitKeyA() ||
        recorded.identities->keyB != shown.unitKeyB()) {
      throw BenchError(path + ": line " +
                       std::to_string(recorded.identities->line) +
                       ": GetIdentities asked for other keys than the chosen "
                       "unit's (listed as " +
                       unit.name + ")");
    }
    unit.identities = recorded.identities->list;
    unit.identitiesKnown = true;
  } else if (recorded.calls.count("GetIdentities") != 0) {
    // Asked and answered with a failure or no list: the fault answers so.
    unit.identitiesKnown = true;
  }
  TakeTimes(recorded, &unit, &replay->notes);

  if (shown.unitState() > kReleaseShownAbove) {
    // A unit that shows its release boots code of it, with its profile.
    replay->release = {shown.unitCodeBranch(), shown.unitCodeVersion(),
                       shown.unitCodeRevision()};
    replay->code = ReplayFlash::kShownRelease;
    replay->store = ReplayFlash::kShownRelease;
    replay->bench.readyState = shown.unitState();
    const std::string model = shown.modelName();
    if (!BootableCode(ShownCode(model, replay->release), model) ||
        !HoldsProfileFor(ShownProfile(model, replay->release), model,
                         replay->release)) {
      throw BenchError(where + "the chosen unit's model \"" + model +
                       "\" cannot be named by a code block, so no code of "
                       "the release it shows can boot on a bench");
    }
    for (const char* step : {"code erase", "store erase"}) {
      auto it = recorded.stepEnds.find(step);
      if (it != recorded.stepEnds.end() && it->second.blank) {
        replay->notes.push_back(
            std::string("the recorded ") + step +
            " found its region blank, where the unit showed a code release; "
            "on the bench the region holds that release's block, so the "
            "erase has work to do");
      }
    }
  } else {
    // Waiting in its boot code: it shows this state until it is given
    // code, and a bench that cannot boot it keeps showing it.
    unit.unitState = shown.unitState();
    replay->code = RegionForErase(recorded, "code erase");
    replay->store = RegionForErase(recorded, "store erase");
  }
  for (const auto& [step, end] : recorded.stepEnds) {
    AddStepFault(step, end, recorded.erasing.count(step) != 0,
                 &replay->bench.faults);
    if (end.status == kStatusBusy) {
      replay->notes.push_back("the recorded " + step +
                              " was given up while busy; the bench runs it "
                              "to its end");
    }
  }
  for (const std::string& step : recorded.stepsBegun) {
    if (recorded.stepEnds.count(step) == 0) {
      replay->notes.push_back("the recorded job was cut during its " + step +
                              "; the bench carries that step out");
    }
  }
}

}  // namespace

std::string ReadRecordFile(const std::string& path) {
  PrivateFile::Refusal refusal = PrivateFile::Refusal::kNone;
  std::unique_ptr<PrivateFile> file =
      PrivateFile::Open(path, PrivateFile::Mode::kRead, &refusal);
  if (!file) {
    // Never waited on nor read: a pipe or a device could hold us for ever.
    if (refusal == PrivateFile::Refusal::kNotPlainFile ||
        refusal == PrivateFile::Refusal::kLink) {
      throw BenchError(path +
                       ": cannot be read: not a plain file (a folder, a "
                       "pipe, a device or a symbolic link, which is not "
                       "followed)");
    }
    throw BenchError(path + ": cannot be read");
  }
  const int64_t size = file->Size();
  if (size < 0) throw BenchError(path + ": cannot be read");
  if (static_cast<uint64_t>(size) > kMaxRecordBytes) {
    throw BenchError(path + ": larger than " + std::to_string(kMaxRecordBytes) +
                     " bytes, which no job record is");
  }
  std::string text(static_cast<size_t>(size), '\0');
  if (size > 0 && !file->ReadAt(0, text.data(), text.size())) {
    throw BenchError(path + ": cannot be read");
  }
  return text;
}

ReplayBench BenchFromRecord(const std::string& text, const std::string& path,
                            const std::string& folder) {
  const Recorded recorded = ReadLines(text, path);
  if (!recorded.detectLine) {
    throw BenchError(path +
                     ": no DetectDevices answer: the job ended before the "
                     "server listed its units, so there is nothing to make "
                     "a bench of");
  }
  if (!recorded.version) {
    throw BenchError(path +
                     ": no GetVersion answer before the units were "
                     "listed; a bench needs the version its server "
                     "reports");
  }
  ReplayBench replay;
  replay.notes = recorded.notes;
  SimBench& bench = replay.bench;
  bench.folder = folder;
  bench.versionMajor = recorded.version->first;
  bench.versionMinor = recorded.version->second;
  bench.accessLevelNames = recorded.accessNames;
  bench.identityNames = recorded.identityNames;
  bench.faults = recorded.faults;
  for (size_t i = 0; i < recorded.units.size(); ++i) {
    SimUnit unit;
    // Named for its "Found :" line.
    unit.name = "found-" + std::to_string(i + 1);
    unit.rawRecord = recorded.units[i];
    unit.identitiesKnown = false;
    TakeRawRecordFields(unit);
    bench.units.push_back(unit);
  }
  if (recorded.chosenSerial) {
    if (recorded.target.empty()) {
      throw BenchError(path +
                       ": no \"firmware\" line before the unit was "
                       "chosen; the units offered depend on it");
    }
    const std::optional<size_t> chosen = ChosenIndex(recorded);
    if (!chosen) {
      throw BenchError(path + ": line " +
                       std::to_string(recorded.chosenSerial->first) +
                       ": the unit chosen (serial " +
                       std::to_string(recorded.chosenSerial->second) +
                       ") is not among the units offered on line " +
                       std::to_string(*recorded.detectLine));
    }
    MakeChosen(path, recorded, *chosen, &replay);
    // What the chosen unit shows depends on its flash: the state it shows
    // while its flash boots nothing is its own.
    TakeRawRecordFields(bench.units[*chosen]);
  } else if (!recorded.stepEnds.empty() || recorded.identities) {
    throw BenchError(path +
                     ": the job asked for identities or ran steps, but no "
                     "\"unit\" line says which unit it chose");
  }
  try {
    ValidateBench(bench);
  } catch (const BenchError& error) {
    throw BenchError(path + ": the bench cannot be made: " + error.what());
  }
  return replay;
}

void WriteReplayBench(const ReplayBench& replay) {
  const SimBench& bench = replay.bench;
  // A bench written anew starts from erased flash, whatever an earlier
  // bench in the folder left in files of these names.
  for (const SimUnit& unit : bench.units) {
    if (!unit.flashSimulated()) continue;
    std::error_code error;
    std::filesystem::remove(PathOf(bench.folder + "/" + unit.codeFlashFile),
                            error);
    std::filesystem::remove(PathOf(bench.folder + "/" + unit.storeFlashFile),
                            error);
  }
  SaveBench(bench);
  if (replay.chosenUnit.empty()) return;
  const SimUnit* unit = nullptr;
  for (const SimUnit& candidate : bench.units) {
    if (candidate.name == replay.chosenUnit) unit = &candidate;
  }
  const std::vector<uint8_t> notBlank(kNotBlankBytes, 0x00);
  const std::string model = unit->modelName;
  if (replay.code == ReplayFlash::kShownRelease) {
    WriteBenchFlash(bench, unit->name, SimRegion::kCode, kCodeFlashBase,
                    ShownCode(model, replay.release));
  } else if (replay.code == ReplayFlash::kNotBlank) {
    WriteBenchFlash(bench, unit->name, SimRegion::kCode, kCodeFlashBase,
                    notBlank);
  }
  if (replay.store == ReplayFlash::kShownRelease) {
    WriteBenchFlash(bench, unit->name, SimRegion::kStore, 0,
                    ShownProfile(model, replay.release));
  } else if (replay.store == ReplayFlash::kNotBlank) {
    WriteBenchFlash(bench, unit->name, SimRegion::kStore, 0, notBlank);
  }
}

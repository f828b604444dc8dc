#include "sim/recorded_job.h"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/private_file.h"
#include "report/job_record.h"
#include "server/device_record.h"
#include "sim/bench_json.h"

using nlohmann::json;

namespace {

// The steps and the entries of the record's format.
const std::set<std::string> kSteps = {"code erase", "code program",
                                      "store erase", "store program", "reset"};
const std::set<std::string> kEntries = {
    "job",  "firmware", "screen", "answer",   "call",
    "unit", "restamp",  "step",   "step end", "end"};

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
                   uint32_t call, RecordedJob* recorded) {
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

// A region's programming group: a refusal, or a failed call, is answered
// again at that region's same call.
void ReadGroupCall(const Line& line, RecordedJob* recorded) {
  const std::string region = line.Text("region");
  if (region != "code" && region != "store") {
    line.Refuse("\"region\" is neither \"code\" nor \"store\"");
  }
  SimFault fault;
  fault.operation = "AcquireGroup";
  fault.region = region == "code" ? SimRegion::kCode : SimRegion::kStore;
  fault.call = ++recorded->calls["AcquireGroup " + region];
  const uint32_t result = line.Result();
  if (result != 0) {
    fault.action = FaultAction::kResultCode;
    fault.value = static_cast<int32_t>(result);
  } else if (line.entry.contains("status") && line.U16("status") != 0) {
    fault.action = FaultAction::kStatus;
    fault.value = line.U16("status");
  } else {
    return;
  }
  recorded->faults.push_back(fault);
}

void ReadCall(const Line& line, RecordedJob* recorded) {
  const std::string operation = line.Text("call");
  static const std::set<std::string> kCalls = {
      "GetVersion",    "SetProfile",        "DetectDevices",
      "GetIdentities", "GetIdentityName",   "GetAccessName",
      "OpenDevice",    "GetCodeProgrammer", "GetStoreProgrammer",
      "AcquireGroup"};
  if (kCalls.count(operation) == 0) {
    line.Refuse("unknown call \"" + operation + "\"");
  }
  if (operation == "AcquireGroup") {
    ReadGroupCall(line, recorded);
    return;
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
    RecordedJob::Identities identities;
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

void ReadStepEnd(const Line& line, RecordedJob* recorded) {
  const std::string step = line.Text("step");
  if (kSteps.count(step) == 0) line.Refuse("unknown step \"" + step + "\"");
  RecordedStepEnd end;
  end.line = line.number;
  end.durationMs =
      static_cast<uint32_t>(line.Integer("duration ms", 0, UINT32_MAX));
  end.busy = static_cast<uint32_t>(line.Integer("busy", 0, UINT32_MAX));
  end.result = line.Result();
  if (line.entry.contains("status")) end.status = line.U16("status");
  if (line.entry.contains("blank")) end.blank = line.Flag("blank");
  if (line.entry.contains("began")) end.began = line.Flag("began");
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

RecordedJob ReadLines(const std::string& text, const std::string& path) {
  RecordedJob recorded;
  std::string openStep;
  size_t number = 0;
  // A record opened and saved again in a Windows editor may begin with a
  // byte order mark, and have its lines end in "\r\n" (JSON reads the
  // "\r" as space).
  size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
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
      const RecordedStepEnd& end = recorded.stepEnds.at(line.Text("step"));
      if (end.began) {
        if (*end.began) {
          recorded.erasing.insert(line.Text("step"));
        } else {
          recorded.erasing.erase(line.Text("step"));
        }
      }
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
  recorded.lines = number;
  return recorded;
}

}  // namespace

std::string ReadRecordFile(const std::string& path) {
  std::string text = ReadPlainFile(path, kMaxRecordBytes);
  if (text.size() > kMaxRecordBytes) {
    throw BenchError(path + ": larger than " + std::to_string(kMaxRecordBytes) +
                     " bytes, which no job record is");
  }
  return text;
}

RecordedJob ReadRecordedJob(const std::string& text, const std::string& path) {
  return ReadLines(text, path);
}

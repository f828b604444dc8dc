// Writing a bench: bench.json as a person would lay it out (fields in
// reading order, keys in hexadecimal, short number arrays on one line), and
// the bench folder saved with its flash files.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "sim/bench_files.h"
#include "sim/bench_json.h"
#include "sim/flash_file.h"

// Written benches keep their fields in a reading order.
using ordered = nlohmann::ordered_json;

namespace {

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
  // A raw record stands for every field it holds.
  if (unit.rawRecord) {
    j["rawRecord"] = HexText(*unit.rawRecord);
    if (unit.unitState && unit.flashSimulated()) {
      j["unitState"] = *unit.unitState;
    }
  } else {
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
  }
  ordered identities = ordered::array();
  for (const SimIdentity& identity : unit.identities) {
    identities.push_back(ordered::array(
        {identity.identityGroup, identity.identityId, identity.accessLevel}));
  }
  j["identities"] = unit.identitiesKnown ? identities : ordered(nullptr);
  if (unit.flashSimulated()) {
    j["codeFlash"] = unit.codeFlashFile;
    j["storeFlash"] = unit.storeFlashFile;
  }
  j["eraseMs"] = unit.eraseMs;
  j["erasePolls"] = unit.erasePolls;
  j["programMs"] = unit.programMs;
  return j;
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
    case FaultAction::kThrow:
      return "throw";
  }
  return "";
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

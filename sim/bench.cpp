#include "sim/bench.h"

#include <algorithm>
#include <set>

#include "server/device_record.h"
#include "sim/unit_addresses.h"

namespace {

bool IsProgrammingOperation(const std::string& operation) {
  return operation == "AcquireGroup" || operation == "StartErase" ||
         operation == "PollErase" || operation == "ProgramRegion" ||
         operation == "ResetDevice";
}

bool HasArrayOutput(const std::string& operation) {
  return operation == "DetectDevices" || operation == "GetIdentities";
}

bool HasEmptiableOutput(const std::string& operation) {
  return HasArrayOutput(operation) || operation == "CreateInstance" ||
         operation == "GetAccessName" || operation == "GetIdentityName" ||
         operation == "OpenDevice" || operation == "GetCodeProgrammer" ||
         operation == "GetStoreProgrammer";
}

// Flash files stay inside the bench folder: plain names only, so a bench
// can never make the server write elsewhere.
bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name.size() > 128 || name[0] == '.') return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::string UnitWhere(size_t index, const SimUnit& unit) {
  return "units[" + std::to_string(index) + "] (\"" + unit.name + "\")";
}

void CheckName(const SimName& name, const std::string& where) {
  if (name && name->size() > bench_limits::kMaxNameBytes) {
    throw BenchError(where + ": name longer than " +
                     std::to_string(bench_limits::kMaxNameBytes) + " bytes");
  }
}

void ValidateUnit(size_t index, const SimUnit& unit,
                  std::set<std::string>& names, std::set<std::string>& files) {
  const std::string where = UnitWhere(index, unit);
  if (unit.name.empty() || unit.name.size() > bench_limits::kMaxUnitNameBytes) {
    throw BenchError(
        "units[" + std::to_string(index) + "]: name must have 1 to " +
        std::to_string(bench_limits::kMaxUnitNameBytes) + " bytes");
  }
  if (!names.insert(unit.name).second) {
    throw BenchError(where + ": another unit has the same name");
  }
  if (unit.modelName.size() > device_record::kModelNameSize) {
    throw BenchError(where + ": modelName longer than 32 bytes");
  }
  if (unit.unitLabel.size() > device_record::kUnitLabelSize) {
    throw BenchError(where + ": unitLabel longer than 1088 bytes");
  }
  if (unit.codeFlashFile.empty() != unit.storeFlashFile.empty()) {
    throw BenchError(where +
                     ": codeFlash and storeFlash are given together or not "
                     "at all");
  }
  for (const std::string* file : {&unit.codeFlashFile, &unit.storeFlashFile}) {
    if (file->empty()) continue;
    if (!IsPlainFileName(*file) || *file == "bench.json") {
      throw BenchError(where + ": flash file name \"" + *file +
                       "\" must be a plain file name (letters, digits, "
                       "'.', '_', '-'; not starting with '.'; not bench.json)");
    }
    if (!files.insert(*file).second) {
      throw BenchError(where + ": flash file \"" + *file + "\" is used twice");
    }
  }
  if (unit.identities.size() > bench_limits::kMaxIdentities) {
    throw BenchError(where + ": more than " +
                     std::to_string(bench_limits::kMaxIdentities) +
                     " identities");
  }
  if (unit.eraseMs > bench_limits::kMaxDurationMs ||
      unit.programMs > bench_limits::kMaxDurationMs) {
    throw BenchError(where + ": durations are at most " +
                     std::to_string(bench_limits::kMaxDurationMs) + " ms");
  }
  if (unit.erasePolls > bench_limits::kMaxErasePolls) {
    throw BenchError(where + ": erasePolls is at most " +
                     std::to_string(bench_limits::kMaxErasePolls));
  }
  if (unit.rawRecord && unit.rawRecord->size() != kDeviceRecordSize) {
    throw BenchError(where + ": rawRecord must hold exactly 1256 bytes");
  }
}

void ValidateFault(size_t index, const SimFault& fault) {
  const std::string where = "faults[" + std::to_string(index) + "]";
  const std::vector<std::string>& operations = SimOperations();
  bool known = false;
  for (const std::string& operation : operations) {
    known = known || operation == fault.operation;
  }
  if (!known) {
    throw BenchError(where + ": unknown operation \"" + fault.operation + "\"");
  }
  const std::string what = where + " (" + fault.operation + ")";
  const bool programming = IsProgrammingOperation(fault.operation);
  if (fault.region && !programming) {
    throw BenchError(what + ": only programming operations take a region");
  }
  if (fault.call && *fault.call == 0) {
    throw BenchError(what + ": call counts from 1");
  }
  switch (fault.action) {
    case FaultAction::kResultCode:
      if (!fault.value || *fault.value < INT32_MIN ||
          *fault.value > UINT32_MAX) {
        throw BenchError(what + ": resultCode needs a 32-bit value");
      }
      break;
    case FaultAction::kStatus:
      if (!programming) {
        throw BenchError(what + ": this operation has no status");
      }
      if (!fault.value || *fault.value < 0 || *fault.value > UINT16_MAX) {
        throw BenchError(what + ": status needs a value from 0 to 65535");
      }
      break;
    case FaultAction::kEmptyOutput:
      if (!HasEmptiableOutput(fault.operation)) {
        throw BenchError(what +
                         ": this operation has no output to leave "
                         "empty");
      }
      break;
    case FaultAction::kWrongElementType:
    case FaultAction::kBadLength:
      if (!HasArrayOutput(fault.operation)) {
        throw BenchError(what + ": this operation returns no array");
      }
      if (fault.action == FaultAction::kWrongElementType && fault.value) {
        const int64_t type = *fault.value;
        // The element types an array can be made of here.
        if (type != 2 && type != 3 && type != 16 && type != 17 && type != 18 &&
            type != 19) {
          throw BenchError(what +
                           ": element type must be one of 2, 3, 16, 17, "
                           "18, 19");
        }
      }
      if (fault.action == FaultAction::kBadLength && fault.value &&
          (*fault.value < 0 || *fault.value > 1000000)) {
        throw BenchError(what + ": length must be from 0 to 1000000");
      }
      break;
    case FaultAction::kExit:
    case FaultAction::kThrow:
      break;
  }
  const bool exitDuring =
      fault.action == FaultAction::kExit &&
      (fault.operation == "StartErase" || fault.operation == "PollErase" ||
       fault.operation == "ProgramRegion");
  const bool failingErase =
      fault.action == FaultAction::kStatus && fault.operation == "PollErase";
  if (fault.during && !exitDuring && !failingErase) {
    throw BenchError(what +
                     ": \"during\" is for exit faults of StartErase, "
                     "PollErase and ProgramRegion, and status faults of "
                     "PollErase");
  }
}

}  // namespace

void TakeRawRecordFields(SimUnit& unit) {
  if (!unit.rawRecord || unit.rawRecord->size() != kDeviceRecordSize) return;
  DeviceRecord shown;
  std::copy_n(unit.rawRecord->begin(), kDeviceRecordSize, shown.bytes);
  unit.unitAddressA = shown.unitAddressA();
  unit.unitAddressB = shown.unitAddressB();
  unit.unitAddressC = shown.unitAddressC();
  unit.groupKey = shown.groupKey();
  unit.modelName = shown.modelName();
  unit.bootBranch = shown.bootBranch();
  unit.bootVersion = shown.bootVersion();
  unit.serialNumber = shown.serialNumber();
  unit.unitKeyA = shown.unitKeyA();
  unit.unitKeyB = shown.unitKeyB();
  unit.unitLabel = shown.unitLabel();
  // With flash these come from the flash, and unitState is what the unit
  // shows while its flash boots nothing.
  if (!unit.flashSimulated()) {
    unit.unitState = shown.unitState();
    unit.unitCodeBranch = shown.unitCodeBranch();
    unit.unitCodeVersion = shown.unitCodeVersion();
    unit.unitCodeRevision = shown.unitCodeRevision();
  }
}

const char* RegionName(SimRegion region) {
  return region == SimRegion::kCode ? "code" : "store";
}

const std::vector<std::string>& SimOperations() {
  static const std::vector<std::string> operations = {
      "CreateInstance",     "GetIdentities", "GetAccessName",
      "GetIdentityName",    "SetProfile",    "DetectDevices",
      "OpenDevice",         "GetVersion",    "GetCodeProgrammer",
      "GetStoreProgrammer", "AcquireGroup",  "StartErase",
      "PollErase",          "ProgramRegion", "ResetDevice"};
  return operations;
}

void ValidateBench(const SimBench& bench) {
  if (bench.units.size() > bench_limits::kMaxUnits) {
    throw BenchError("more than " + std::to_string(bench_limits::kMaxUnits) +
                     " units");
  }
  if (bench.faults.size() > bench_limits::kMaxFaults) {
    throw BenchError("more than " + std::to_string(bench_limits::kMaxFaults) +
                     " faults");
  }
  if (bench.accessLevelNames.size() > bench_limits::kMaxNames ||
      bench.identityNames.size() > bench_limits::kMaxNames) {
    throw BenchError("more than " + std::to_string(bench_limits::kMaxNames) +
                     " names of one kind");
  }
  for (const auto& [level, name] : bench.accessLevelNames) {
    CheckName(name, "accessLevels " + std::to_string(level));
  }
  for (const auto& [key, name] : bench.identityNames) {
    CheckName(name, "identityNames " + std::to_string(key.first) + "/" +
                        std::to_string(key.second));
  }
  std::set<std::string> names;
  std::set<std::string> files;
  bool needsFolder = false;
  for (size_t i = 0; i < bench.units.size(); ++i) {
    ValidateUnit(i, bench.units[i], names, files);
    needsFolder = needsFolder || bench.units[i].flashSimulated();
  }
  CheckUnitsApart(bench);
  if (needsFolder && bench.folder.empty()) {
    throw BenchError("units simulate flash but the bench has no folder");
  }
  for (size_t i = 0; i < bench.faults.size(); ++i) {
    ValidateFault(i, bench.faults[i]);
  }
}

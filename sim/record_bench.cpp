#include "sim/record_bench.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "platform/system_text.h"
#include "server/device_record.h"
#include "server/server_interfaces.h"
#include "sim/bench_flash.h"
#include "sim/bench_json.h"
#include "sim/flash_file.h"
#include "sim/sample_blocks.h"
#include "sim/store_flash_check.h"

namespace {

// As the tool lists units.
constexpr uint16_t kChoosableFrom = unit_state::kReadyFrom;
constexpr uint16_t kReleaseShownAbove = unit_state::kCodeShownAbove;

// What a region holds that the record shows was not blank: too little to
// be code or a profile, enough for an erase to have work to do.
constexpr size_t kNotBlankBytes = 16;
// The length of a made-up code block and profile: the default
// bench's, so that a tool's image fits the code flash beside it.
constexpr uint32_t kShownCodeLength = 0x40000;
constexpr uint32_t kShownProfileLength = 0x20000;

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

DeviceRecord AsRecord(const std::vector<uint8_t>& bytes) {
  DeviceRecord record;
  std::copy_n(bytes.begin(), kDeviceRecordSize, record.bytes);
  return record;
}

// The unit the tool chose: of the units it offered, the last one listed
// with the serial number answered.
std::optional<size_t> ChosenIndex(const RecordedJob& recorded) {
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
void AddStepFault(const std::string& step, const RecordedStepEnd& end,
                  bool erasing, std::vector<SimFault>* faults) {
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
bool WorkDone(const std::map<std::string, RecordedStepEnd>& ends,
              const std::string& step, const RecordedStepEnd** end) {
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
void TakeTimes(const RecordedJob& recorded, SimUnit* unit,
               std::vector<std::string>* notes) {
  const RecordedStepEnd* code = nullptr;
  const RecordedStepEnd* store = nullptr;
  const bool codeErased = WorkDone(recorded.stepEnds, "code erase", &code);
  const bool storeErased = WorkDone(recorded.stepEnds, "store erase", &store);
  // An erase that failed while busy sets the times too: its polls answer
  // busy until the one that failed (AddStepFault).
  const RecordedStepEnd* erase = codeErased    ? code
                                 : storeErased ? store
                                               : nullptr;
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
  const RecordedStepEnd* program = codeProgrammed    ? code
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
// erase found it blank or never ran, something to erase where it erased,
// or began erasing when the job was cut.
ReplayFlash RegionForErase(const RecordedJob& recorded,
                           const std::string& step) {
  const RecordedStepEnd* end = nullptr;
  if (WorkDone(recorded.stepEnds, step, &end)) return ReplayFlash::kNotBlank;
  if (recorded.stepEnds.count(step) == 0 && recorded.erasing.count(step) != 0) {
    return ReplayFlash::kNotBlank;
  }
  return ReplayFlash::kErased;
}

void MakeChosen(const std::string& path, const RecordedJob& recorded,
                size_t index, ReplayBench* replay) {
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

ReplayBench BenchFromRecord(const std::string& text, const std::string& path,
                            const std::string& folder) {
  const RecordedJob recorded = ReadRecordedJob(text, path);
  if (!recorded.detectLine) {
    throw BenchError(path + ": no DetectDevices answer in its " +
                     std::to_string(recorded.lines) +
                     " lines: the job ended before the server listed its "
                     "units, so there is nothing to make a bench of");
  }
  if (!recorded.version) {
    throw BenchError(path + ": line " + std::to_string(*recorded.detectLine) +
                     ": the units are listed, but no GetVersion answer came "
                     "before; a bench needs the version its server reports");
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
      throw BenchError(path + ": line " +
                       std::to_string(recorded.chosenSerial->first) +
                       ": a unit is chosen, but no \"firmware\" line came "
                       "before; the units offered depend on it");
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

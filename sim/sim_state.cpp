#include "sim/sim_state.h"

#include <cstdio>
#include <stdexcept>

#include "platform/system_text.h"
#include "sim/code_flash_check.h"
#include "sim/store_flash_check.h"

SimState::SimState(SimBench bench) { Start(std::move(bench)); }

void SimState::SetBenchLoader(std::function<SimBench()> loader) {
  benchLoader_ = std::move(loader);
}

bool SimState::EnsureBench() {
  if (!benchLoader_) return !benchFailed_;
  const std::function<SimBench()> loader = std::move(benchLoader_);
  benchLoader_ = nullptr;
  try {
    Start(loader());
  } catch (const BenchError& error) {
    benchFailed_ = true;
    Report(error.what());
  }
  return !benchFailed_;
}

void SimState::Start(SimBench bench) {
  // A unit is what its raw record shows, wherever the server looks at it.
  for (SimUnit& unit : bench.units) TakeRawRecordFields(unit);
  ValidateBench(bench);
  bench_ = std::move(bench);
  units_.clear();
  units_.resize(bench_.units.size());
  for (size_t i = 0; i < bench_.units.size(); ++i) {
    const SimUnit& unit = bench_.units[i];
    UnitRuntime& runtime = units_[i];
    if (unit.flashSimulated()) {
      runtime.code = std::make_unique<FlashFile>(
          bench_.folder + "/" + unit.codeFlashFile, SimRegion::kCode);
      runtime.store = std::make_unique<FlashFile>(
          bench_.folder + "/" + unit.storeFlashFile, SimRegion::kStore);
      // A flash file that cannot be used refuses its own unit, not the
      // bench: jobs on the other units go on.
      try {
        runtime.code->Prepare();
        runtime.store->Prepare();
      } catch (const BenchError& error) {
        runtime.flashFault = std::string(error.what()) + "; unit \"" +
                             unit.name + "\" is refused until it is put right";
      }
    }
    Restart(i);
  }
}

std::vector<SimCall> SimState::Calls() const { return calls_; }

std::vector<SimCall> SimState::Calls(const std::string& operation) const {
  std::vector<SimCall> matching;
  for (const SimCall& call : calls_) {
    if (call.operation == operation) matching.push_back(call);
  }
  return matching;
}

uint32_t SimState::CallCount(const std::string& operation,
                             std::optional<SimRegion> region) const {
  const std::string key =
      region ? operation + "/" + RegionName(*region) : operation;
  auto it = counts_.find(key);
  return it == counts_.end() ? 0 : it->second;
}

std::optional<std::vector<uint8_t>> SimState::Profile() const {
  return profile_;
}

UnitCondition SimState::Condition(const std::string& unitName) const {
  return units_[UnitIndex(unitName)].condition;
}

std::vector<uint8_t> SimState::ReadFlash(const std::string& unitName,
                                         SimRegion region) const {
  const FlashFile* flash = Flash(UnitIndex(unitName), region);
  if (flash == nullptr) {
    throw BenchError("unit \"" + unitName + "\" simulates no flash");
  }
  std::vector<uint8_t> bytes = flash->ReadAll();
  if (bytes.empty()) throw BenchError(flash->path() + ": cannot be read");
  return bytes;
}

int SimState::LiveObjects(SimObjectKind kind) const {
  auto it = live_.find(kind);
  return it == live_.end() ? 0 : it->second;
}

std::optional<int> SimState::exitCode() const { return exitCode_; }

void SimState::SetExitHook(std::function<void(int)> hook) {
  exitHook_ = std::move(hook);
}

void SimState::SetReportHook(std::function<void(const std::string&)> hook) {
  reportHook_ = std::move(hook);
}

void SimState::Report(const std::string& message) const {
  if (reportHook_) {
    reportHook_(message);
  } else {
    WriteText(stderr, "ecuprog-sim: " + message + "\n");
  }
}

HRESULT SimState::Enter(SimCall call, const SimFault** fault) {
  *fault = nullptr;
  // A server that has ended receives nothing more.
  if (exitCode_ || ended_) return kSimDisconnected;
  const uint32_t total = ++counts_[call.operation];
  uint32_t inRegion = 0;
  if (call.region) {
    inRegion = ++counts_[call.operation + "/" + RegionName(*call.region)];
  }
  for (const SimFault& candidate : bench_.faults) {
    if (candidate.operation != call.operation) continue;
    if (candidate.region && candidate.region != call.region) continue;
    const uint32_t count = candidate.region ? inRegion : total;
    if (candidate.call && *candidate.call != count) continue;
    *fault = &candidate;
    break;
  }
  Log(std::move(call));
  if (*fault && (*fault)->action == FaultAction::kExit && !(*fault)->during) {
    return ExitNow();
  }
  if (*fault && (*fault)->action == FaultAction::kThrow) {
    throw std::runtime_error("a scripted fault threw inside " +
                             (*fault)->operation);
  }
  return S_OK;
}

HRESULT SimState::ExitNow() {
  exitCode_ = kSimExitCode;
  if (exitHook_) exitHook_(kSimExitCode);
  return kSimCallFailed;
}

HRESULT SimState::Result(const SimFault* fault) {
  if (fault && fault->action == FaultAction::kResultCode && fault->value) {
    return static_cast<HRESULT>(static_cast<uint32_t>(*fault->value));
  }
  return S_OK;
}

void SimState::RecordRelease(SimObjectKind kind,
                             const std::string& unit) noexcept {
  // A release must not fail: one that the log has no memory for is left
  // out of it.
  try {
    SimCall call;
    call.operation = "Release";
    call.unit = unit;
    if (kind == SimObjectKind::kCodeProgrammer) call.region = SimRegion::kCode;
    if (kind == SimObjectKind::kStoreProgrammer) {
      call.region = SimRegion::kStore;
    }
    Log(std::move(call));
  } catch (const std::exception&) {
  }
}

void SimState::CountObject(SimObjectKind kind, int delta) {
  live_[kind] += delta;
}

std::vector<DeviceRecord> SimState::Records() const {
  std::vector<DeviceRecord> records;
  for (size_t i = 0; i < units_.size(); ++i) records.push_back(Record(i));
  return records;
}

DeviceRecord SimState::Record(size_t unitIndex) const {
  return MakeDeviceRecord(bench_.units[unitIndex], units_[unitIndex].condition);
}

const std::string& SimState::FlashFault(size_t unitIndex) const {
  return units_[unitIndex].flashFault;
}

const FlashFile* SimState::Flash(size_t unitIndex, SimRegion region) const {
  const UnitRuntime& runtime = units_[unitIndex];
  return region == SimRegion::kCode ? runtime.code.get() : runtime.store.get();
}

std::optional<SimState::Erase>& SimState::RunningErase(size_t unitIndex,
                                                       SimRegion region) {
  return units_[unitIndex].erase[region == SimRegion::kCode ? 0 : 1];
}

std::vector<std::string> SimState::FinishRunningErases() {
  const SimCallLock::Held serving(callLock_);
  ended_ = true;
  std::vector<std::string> failed;
  // A server that ended mid-step stands for a cut: its erases stay torn.
  if (exitCode_) return failed;
  for (size_t i = 0; i < units_.size(); ++i) {
    for (SimRegion region : {SimRegion::kCode, SimRegion::kStore}) {
      std::optional<Erase>& erase = RunningErase(i, region);
      if (!erase) continue;
      const FlashFile& flash = *Flash(i, region);
      if (!flash.Fill(erase->start, erase->length, kErasedByte)) {
        failed.push_back(flash.path());
      }
      erase.reset();
    }
  }
  return failed;
}

void SimState::Restart(size_t unitIndex) {
  const SimUnit& unit = bench_.units[unitIndex];
  UnitRuntime& runtime = units_[unitIndex];
  runtime.erase[0].reset();
  runtime.erase[1].reset();
  if (!runtime.code) {
    runtime.condition = {unit.unitState.value_or(0), unit.unitCodeBranch,
                         unit.unitCodeVersion, unit.unitCodeRevision};
    return;
  }
  // Flash that cannot be read whole boots nothing.
  if (!runtime.flashFault.empty()) {
    runtime.condition = {unit.unitState.value_or(bench_.notReadyState), 0, 0,
                         0};
    return;
  }
  const std::optional<CodeRelease> release =
      BootableCode(runtime.code->ReadAll(), unit.modelName);
  // Code without its profile does not run: the unit stays in its boot code,
  // as after a cut in the code flash, so that the job is run again.
  if (release &&
      HoldsProfileFor(runtime.store->ReadAll(), unit.modelName, *release)) {
    runtime.condition = {bench_.readyState, release->branch, release->version,
                         release->revision, true};
  } else {
    runtime.condition = {unit.unitState.value_or(bench_.notReadyState), 0, 0,
                         0};
  }
}

void SimState::Log(SimCall call) {
  if (calls_.size() < kSimMaxLoggedCalls) calls_.push_back(std::move(call));
}

void SimState::KeepProfile(std::vector<uint8_t> profile) {
  profile_ = std::move(profile);
}

size_t SimState::UnitIndex(const std::string& unitName) const {
  for (size_t i = 0; i < bench_.units.size(); ++i) {
    if (bench_.units[i].name == unitName) return i;
  }
  throw BenchError("no unit \"" + unitName + "\" on the bench");
}

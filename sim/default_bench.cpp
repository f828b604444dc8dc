#include "sim/default_bench.h"

#include <algorithm>
#include <filesystem>

#include "platform/system_text.h"
#include "sim/bench_flash.h"
#include "sim/bench_json.h"
#include "sim/sample_blocks.h"

namespace {

SimUnit Unit(const std::string& name, uint32_t slot, const char* model,
             int32_t serial, uint16_t bootBranch, uint16_t bootVersion,
             const std::string& label) {
  SimUnit unit;
  unit.name = name;
  unit.unitAddressA = 0x00000001;
  unit.unitAddressB = 0x00470000 + slot;
  unit.unitAddressC = static_cast<uint16_t>(slot);
  unit.groupKey = 0x00C0FF00 + slot;
  unit.modelName = model;
  unit.bootBranch = bootBranch;
  unit.bootVersion = bootVersion;
  unit.serialNumber = serial;
  unit.unitKeyA = static_cast<uint16_t>(0x0100 + slot);
  unit.unitKeyB = static_cast<uint16_t>(0x0200 + slot);
  unit.unitLabel = label;
  return unit;
}

void SimulateFlash(SimUnit& unit, BenchTiming timing) {
  unit.codeFlashFile = unit.name + "-code.bin";
  unit.storeFlashFile = unit.name + "-store.bin";
  if (timing == BenchTiming::kRealistic) {
    unit.eraseMs = 1000;
    unit.programMs = 800;
  }
}

void Holds(const SimBench& bench, const std::string& unit, const char* target,
           uint16_t branch, uint16_t version, uint16_t revision,
           uint32_t seed) {
  SampleCodeBlock code;
  code.targetName = target;
  code.codeBranch = branch;
  code.codeVersion = version;
  code.codeRevision = revision;
  code.length = 0x40000;
  code.seed = seed;
  WriteBenchFlash(bench, unit, SimRegion::kCode, 0x00010000,
                  MakeSampleCodeBlock(code));
  SampleProfileBlock profile;
  profile.targetName = target;
  profile.codeBranch = branch;
  profile.codeVersion = version;
  profile.minCodeRevision = revision;
  profile.maxCodeRevision = revision;
  profile.length = 0x20000;
  profile.seed = seed;
  WriteBenchFlash(bench, unit, SimRegion::kStore, 0,
                  MakeSampleProfileBlock(profile));
}

// What a job cut short in its code flash write leaves: the code flash
// erased and its first half written with a release, the store flash still
// holding the profile of the release it had before. The code flash holds
// no bootable image, so the unit waits in its boot code for new code.
void HoldsCutJob(const SimBench& bench, const std::string& unit,
                 uint32_t seed) {
  Holds(bench, unit, "W3", 1, 462, 7, seed);
  SampleCodeBlock code;
  code.targetName = "W3";
  code.codeBranch = 1;
  code.codeVersion = 463;
  code.codeRevision = 1;
  code.length = 0x40000;
  code.seed = seed + 100;
  std::vector<uint8_t> image = MakeSampleCodeBlock(code);
  const size_t written = image.size() / 2;
  std::fill(image.begin() + written, image.end(), uint8_t{0xFF});
  WriteBenchFlash(bench, unit, SimRegion::kCode, 0x00010000, image);
}

}  // namespace

SimBench MakeDefaultBench(const std::string& folder, BenchTiming timing) {
  SimBench bench;
  bench.folder = folder;
  bench.accessLevelNames = {{0, std::string("Full programming")},
                            {1, std::string("Diagnostics only")},
                            {2, std::string("Read only")}};
  bench.identityNames = {{{1, 0}, std::string("Werkstatt München")},
                         {{1, 7}, std::string("Service desk")},
                         {{2, 12}, std::string("Visitor")}};

  SimUnit ready = Unit(kDefaultReadyUnit, 1, "W3", kDefaultReadySerial, 1, 40,
                       "Simulated test cell 1");
  ready.identities = {{1, 7, 1}, {1, 0, 0}, {2, 12, 2}};
  SimulateFlash(ready, timing);

  SimUnit noSerial =
      Unit("w3-bay2", 2, "W3", 0, 1, 40, "Simulated test cell 2");
  noSerial.unitState = 700;
  noSerial.identities = {{1, 0, 0}};

  SimUnit badBoot = Unit("w3-bay3", 3, "W3", 0, 0, 0, "Simulated test cell 3");
  badBoot.unitState = 90;
  badBoot.identities = {{1, 0, 0}};

  SimUnit blank =
      Unit("w3-bay4", 4, "W3", 4713, 1, 38, "Simulated test cell 4, new board");
  // Not released for programming: its boot code says so while its code
  // flash is blank, where a unit would otherwise wait for new code (1000).
  blank.unitState = 900;
  blank.identities = {{1, 0, 0}, {2, 12, 2}};
  SimulateFlash(blank, timing);

  SimUnit other = Unit("w17-bay5", 5, "W17", 4715, 2, 3, "Simulated W17 rig");
  other.identities = {{1, 0, 0}};
  SimulateFlash(other, timing);

  SimUnit cut = Unit(kDefaultCutUnit, 6, "W3", kDefaultCutSerial, 1, 40,
                     "Simulated test cell 6, job cut short");
  cut.identities = {{1, 0, 0}};
  SimulateFlash(cut, timing);

  bench.units = {ready, noSerial, badBoot, blank, other, cut};
  return bench;
}

SimBench WriteDefaultBench(const std::string& folder, BenchTiming timing) {
  const SimBench bench = MakeDefaultBench(folder, timing);
  // A bench written anew starts from erased flash, whatever an earlier
  // bench in the folder left behind.
  for (const SimUnit& unit : bench.units) {
    if (!unit.flashSimulated()) continue;
    std::error_code error;
    std::filesystem::remove(PathOf(folder + "/" + unit.codeFlashFile), error);
    std::filesystem::remove(PathOf(folder + "/" + unit.storeFlashFile), error);
  }
  SaveBench(bench);
  Holds(bench, kDefaultReadyUnit, "W3", 1, 462, 7, 1);
  Holds(bench, "w17-bay5", "W17", 1, 301, 2, 5);
  HoldsCutJob(bench, kDefaultCutUnit, 6);
  return bench;
}

#include "sim/bench_flash.h"

FlashFile BenchFlash(const SimBench& bench, const std::string& unitName,
                     SimRegion region) {
  for (const SimUnit& unit : bench.units) {
    if (unit.name != unitName) continue;
    if (!unit.flashSimulated()) {
      throw BenchError("unit \"" + unitName + "\" simulates no flash");
    }
    return FlashFile(bench.folder + "/" +
                         (region == SimRegion::kCode ? unit.codeFlashFile
                                                     : unit.storeFlashFile),
                     region);
  }
  throw BenchError("no unit \"" + unitName + "\" on the bench");
}

void WriteBenchFlash(const SimBench& bench, const std::string& unitName,
                     SimRegion region, uint32_t address,
                     const std::vector<uint8_t>& bytes) {
  const FlashFile flash = BenchFlash(bench, unitName, region);
  flash.Prepare();
  if (bytes.size() > UINT32_MAX ||
      !flash.Contains(address, static_cast<uint32_t>(bytes.size()))) {
    throw BenchError(flash.path() + ": the bytes do not fit the flash");
  }
  if (!flash.Write(address, bytes.data(),
                   static_cast<uint32_t>(bytes.size()))) {
    throw BenchError(flash.path() + ": cannot be written");
  }
}

std::vector<uint8_t> ReadBenchFlash(const SimBench& bench,
                                    const std::string& unitName,
                                    SimRegion region) {
  const FlashFile flash = BenchFlash(bench, unitName, region);
  std::vector<uint8_t> bytes = flash.ReadAll();
  if (bytes.empty()) throw BenchError(flash.path() + ": cannot be read");
  return bytes;
}

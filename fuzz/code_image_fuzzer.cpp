// The code image loader over arbitrary bytes as resource IMAGE 1001. The
// loader runs as it does in the tool; only its stop is turned into a
// return (an exception RunPhase catches).
#include <cstddef>
#include <cstdint>
#include <string>

#include "blocks/block_crc.h"
#include "blocks/code_image.h"
#include "fuzz/fuzz_check.h"
#include "platform/posix/resource_table.h"
#include "tests/run_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  BuildCrcTable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return -1;
  const EmbeddedResource table[] = {{"IMAGE", kCodeResourceId, nullptr, data,
                                     static_cast<DWORD>(size), false}};
  UseResourceTable(table, 1);
  CodeImage image;
  PhaseOutcome outcome = RunPhase([&] { image = LoadCodeImage(); });
  UseResourceTable(nullptr, 0);
  ShowOutput(outcome.output);

  if (outcome.stopped) {
    FUZZ_CHECK(outcome.exitCode == 1, outcome.output);
    return 0;
  }
  // A loaded image is one the tool may write to the code flash.
  FUZZ_CHECK(image.bytes && image.length > size, outcome.output);
  FUZZ_CHECK(BlockCrc(image.bytes.get(), image.length / 4) == 0, "");
  BlockHeader header = image.header();
  FUZZ_CHECK(header.magic() == kBlockMagic, "");
  FUZZ_CHECK(header.endAddress() == kCodeStartAddress + image.length - 1, "");
  return 0;
}

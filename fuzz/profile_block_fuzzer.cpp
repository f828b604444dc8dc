// The profile loader over arbitrary bytes as resource IMAGE 1002, checked
// against the header of the released code block. Each input runs twice: as
// it is, and with its checksum made to fit, so that the checks behind the
// checksum are reached too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "blocks/block_crc.h"
#include "blocks/code_image.h"
#include "blocks/profile_block.h"
#include "fuzz/fuzz_check.h"
#include "platform/posix/resource_table.h"
#include "tests/run_harness.h"

namespace {

CodeImage g_code;

PhaseOutcome LoadProfile(const uint8_t* bytes, size_t size,
                         ProfileBlock* profile) {
  const EmbeddedResource table[] = {{"IMAGE", kProfileResourceId, nullptr,
                                     bytes, static_cast<DWORD>(size), false}};
  UseResourceTable(table, 1);
  PhaseOutcome outcome =
      RunPhase([&] { *profile = LoadProfileBlock(g_code.header()); });
  UseResourceTable(nullptr, 0);
  return outcome;
}

void Check(const uint8_t* bytes, size_t size) {
  ProfileBlock profile;
  PhaseOutcome outcome = LoadProfile(bytes, size, &profile);
  ShowOutput(outcome.output);
  if (outcome.stopped) {
    FUZZ_CHECK(outcome.exitCode == 1, outcome.output);
    return;
  }
  // Accepted: it is the resource, whole, and it fits the code block.
  FUZZ_CHECK(profile.bytes == bytes && profile.length == size, "");
  FUZZ_CHECK(size <= kMaxProfileLength, "");
  FUZZ_CHECK(BlockCrc(bytes, static_cast<uint32_t>(size / 4)) == 0, "");
  BlockHeader header(bytes);
  FUZZ_CHECK(header.targetName() == g_code.header().targetName(), "");
  FUZZ_CHECK(header.endAddress() == size - 1, "");
  FUZZ_CHECK(outcome.output == "Ready to program W3 firmware release 1.463.1\n",
             outcome.output);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  BuildCrcTable();
  const std::vector<uint8_t> stream = ReadFileOrDie(ECUPROG_SAMPLE_CODE_BLOCK);
  const EmbeddedResource table[] = {{"IMAGE", kCodeResourceId, nullptr,
                                     stream.data(),
                                     static_cast<DWORD>(stream.size()), false}};
  UseResourceTable(table, 1);
  PhaseOutcome outcome = RunPhase([] { g_code = LoadCodeImage(); });
  UseResourceTable(nullptr, 0);
  FUZZ_CHECK(!outcome.stopped,
             "the sample code block does not load: " + outcome.output);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return -1;
  Check(data, size);

  // The last whole word holds the checksum of everything before it.
  if (size < 4) return 0;
  std::vector<uint8_t> stamped(data, data + size);
  uint8_t* last = stamped.data() + (size / 4) * 4 - 4;
  StoreBigEndian32(last, 0);
  StoreBigEndian32(last,
                   BlockCrc(stamped.data(), static_cast<uint32_t>(size / 4)));
  Check(stamped.data(), stamped.size());
  return 0;
}

#include "tools/firmware_check.h"

#include <algorithm>
#include <memory>

#include "blocks/block_crc.h"
#include "blocks/restamp.h"
#include "platform/posix/resource_table.h"
#include "report/console.h"
#include "report/memory_console.h"
#include "report/stop_run.h"

namespace {

struct Refused {
  std::string message;
};

[[noreturn]] void ThrowRefusal(int, const char* message) {
  throw Refused{message};
}

// Whether restamping verifies can hang on the time stamped in: in an image
// whose length is not a whole number of words the new checksum straddles
// the last word the check covers, and the image verifies only for the one
// time whose checksum comes out as zero. Two different times cannot both
// be that one, so a release that passes both passes at every time, and one
// that would stop some job is refused here.
constexpr uint32_t kCheckedProgramTimes[] = {0, 0xFFFFFFFF};

void RestampCopies(const CodeImage& image) {
  for (uint32_t programTime : kCheckedProgramTimes) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[image.length]);
    std::copy(image.bytes.get(), image.bytes.get() + image.length, copy.get());
    RestampCodeImageAt(copy.get(), image.length, programTime);
  }
}

}  // namespace

FirmwareCheck CheckFirmware(const std::vector<uint8_t>& code,
                            const std::vector<uint8_t>& profile) {
  const EmbeddedResource table[] = {
      {"IMAGE", kCodeResourceId, nullptr, code.data(),
       static_cast<DWORD>(code.size()), false},
      {"IMAGE", kProfileResourceId, nullptr, profile.data(),
       static_cast<DWORD>(profile.size()), false},
  };
  UseResourceTable(table, 2);
  MemoryConsole console;
  SetConsole(&console);
  SetRunExit(ThrowRefusal);

  FirmwareCheck check;
  try {
    BuildCrcTable();
    check.image = LoadCodeImage();
    check.profile = LoadProfileBlock(check.image.header());
    RestampCopies(check.image);
  } catch (const Refused& stop) {
    check.refusal = stop.message;
    check.image = CodeImage();
    check.profile = ProfileBlock();
  }
  SetRunExit(nullptr);
  SetConsole(nullptr);
  UseResourceTable(nullptr, 0);
  check.output = console.output();
  return check;
}

// Runs the tool's own validation of a code block and a profile block, so a
// release the tool would refuse is never built into it.
//
//   ecuprog_check_firmware CODE_FILE PROFILE_FILE
//
// Exit code 0 and the release line on standard output when both blocks
// pass; exit code 1 and the refusal on standard error otherwise.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "blocks/block_crc.h"
#include "blocks/code_image.h"
#include "blocks/profile_block.h"
#include "driver/console.h"
#include "driver/memory_console.h"
#include "driver/stop_run.h"
#include "platform/posix/resource_table.h"

namespace {

struct Refused {
  std::string message;
};

[[noreturn]] void ThrowRefusal(int, const char* message) {
  throw Refused{message};
}

bool ReadFile(const char* path, std::vector<BYTE>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in),
                std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CODE_FILE PROFILE_FILE\n", argv[0]);
    return 2;
  }
  std::vector<BYTE> code;
  std::vector<BYTE> profile;
  for (int i = 1; i < 3; ++i) {
    if (!ReadFile(argv[i], i == 1 ? &code : &profile)) {
      std::fprintf(stderr, "firmware refused: cannot read %s\n", argv[i]);
      return 1;
    }
  }
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

  std::string refusal;
  try {
    BuildCrcTable();
    CodeImage image = LoadCodeImage();
    LoadProfileBlock(image.header());
  } catch (const Refused& stop) {
    refusal = stop.message;
  }
  SetRunExit(nullptr);
  SetConsole(nullptr);
  UseResourceTable(nullptr, 0);

  if (!refusal.empty()) {
    std::fprintf(stderr, "firmware refused: %s\n", refusal.c_str());
    return 1;
  }
  std::fputs(console.output().c_str(), stdout);
  return 0;
}

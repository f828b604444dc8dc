// Runs the tool's own checks of a code block and a profile block, the
// restamp included, so a release the tool would refuse is never built into
// it; for a release kit it also writes what the blocks are (RELEASE.txt).
//
//   ecuprog_check_firmware CODE_FILE PROFILE_FILE [NOTES...]
//   ecuprog_check_firmware --program PROGRAM.exe [NOTES...]
//     NOTES: --release-notes FILE --source-revision REVISION
//            [--built-with TOOLCHAIN]
//
// --program takes the blocks out of a built Windows program (IMAGE 1001
// and 1002), so that the notes describe what the program carries.
// Exit code 0 and the release line on standard output when both blocks
// pass; exit code 1 and the refusal on standard error otherwise.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "blocks/code_image.h"
#include "blocks/profile_block.h"
#include "platform/posix/windows_subset.h"
#include "tools/firmware_check.h"
#include "tools/pe_resources.h"
#include "tools/release_notes.h"

namespace {

// Reads a plain file whole; what stood in the way, or "". A folder, a
// FIFO or a device is refused before anything is read from it: a stream
// reading a folder fails with an exception, and one reading a FIFO without
// a writer or a device that never ends would never return. The file is
// opened without blocking, so that opening a FIFO returns at once.
std::string ReadFile(const char* path, std::vector<BYTE>* bytes) {
  const int file = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return std::strerror(errno);
  std::string why;
  struct stat facts {};
  if (fstat(file, &facts) != 0) {
    why = std::strerror(errno);
  } else if (S_ISDIR(facts.st_mode)) {
    why = std::strerror(EISDIR);
  } else if (!S_ISREG(facts.st_mode)) {
    why = "not a plain file";
  }
  bytes->clear();
  char buffer[65536];
  while (why.empty()) {
    const ssize_t got = read(file, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno != EINTR) why = std::strerror(errno);
      continue;
    }
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  close(file);
  return why;
}

std::string CannotRead(const char* path, const std::string& why) {
  return std::string("cannot read ") + path + ": " + why;
}

struct Arguments {
  std::vector<const char*> files;
  const char* program = nullptr;
  const char* notes = nullptr;
  const char* revision = nullptr;
  const char* toolchain = nullptr;
};

bool ParseArguments(int argc, char** argv, Arguments* arguments) {
  for (int i = 1; i < argc; ++i) {
    const char** option = nullptr;
    if (std::strcmp(argv[i], "--program") == 0) option = &arguments->program;
    if (std::strcmp(argv[i], "--release-notes") == 0) {
      option = &arguments->notes;
    }
    if (std::strcmp(argv[i], "--source-revision") == 0) {
      option = &arguments->revision;
    }
    if (std::strcmp(argv[i], "--built-with") == 0) {
      option = &arguments->toolchain;
    }
    if (!option) {
      arguments->files.push_back(argv[i]);
    } else if (++i < argc) {
      *option = argv[i];
    } else {
      return false;
    }
  }
  bool blocks = arguments->program ? arguments->files.empty()
                                   : arguments->files.size() == 2;
  return blocks && !arguments->notes == !arguments->revision &&
         (arguments->notes || !arguments->toolchain);
}

// The blocks from their files or out of the program; what could not be
// read, or "".
std::string ReadBlocks(const Arguments& arguments, std::vector<BYTE>* code,
                       std::vector<BYTE>* profile) {
  if (!arguments.program) {
    for (int i = 0; i < 2; ++i) {
      const std::string why =
          ReadFile(arguments.files[i], i == 0 ? code : profile);
      if (!why.empty()) return CannotRead(arguments.files[i], why);
    }
    return "";
  }
  std::vector<BYTE> program;
  const std::string why = ReadFile(arguments.program, &program);
  if (!why.empty()) return CannotRead(arguments.program, why);
  if (!ReadImageResource(program, kCodeResourceId, code) ||
      !ReadImageResource(program, kProfileResourceId, profile)) {
    return std::string("no firmware resources in ") + arguments.program;
  }
  return "";
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "firmware refused: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (!ParseArguments(argc, argv, &arguments)) {
    std::fprintf(stderr,
                 "usage: %s (CODE_FILE PROFILE_FILE | --program PROGRAM.exe)\n"
                 "       [--release-notes FILE --source-revision REVISION\n"
                 "        [--built-with TOOLCHAIN]]\n",
                 argv[0]);
    return 2;
  }
  std::vector<BYTE> code;
  std::vector<BYTE> profile;
  std::string unread = ReadBlocks(arguments, &code, &profile);
  if (!unread.empty()) return Refuse(unread);
  FirmwareCheck check = CheckFirmware(code, profile);
  if (!check.refusal.empty()) return Refuse(check.refusal);
  if (arguments.notes) {
    ReleaseBlocks blocks{&code, check.image.bytes.get(), check.image.length,
                         check.profile.bytes, check.profile.length};
    std::ofstream out(arguments.notes, std::ios::binary);
    out << DescribeRelease(blocks, arguments.revision);
    if (arguments.toolchain) {
      out << "Built with: " << arguments.toolchain << "\n";
    }
    if (!out.flush()) {
      return Refuse(std::string("cannot write ") + arguments.notes);
    }
  }
  std::fputs(check.output.c_str(), stdout);
  return 0;
}

// Checks a simulated unit's flash after a programming job run by the
// Windows program: the code flash holds the carried image restamped within
// the run, the store flash holds the profile byte for byte.
//
//   ecuprog_flash_check CODE_ZLIB PROFILE CODE_FLASH STORE_FLASH BEFORE AFTER
//
// BEFORE and AFTER bound the program time (seconds since 1970). Prints one
// line saying what is wrong, or "flash as programmed"; exit code 0 or 1.
#include <cryptopp/zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "platform/system_text.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int Wrong(const std::string& what) {
  std::printf("%s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fputs(
        "usage: ecuprog_flash_check CODE_ZLIB PROFILE CODE_FLASH STORE_FLASH "
        "BEFORE AFTER\n",
        stderr);
    return 2;
  }
  BuildCrcTable();
  // Bench paths of any letters: argv spells them in the ANSI code page.
  const std::vector<std::string> paths = ProgramArguments(argc, argv);
  const std::vector<uint8_t> stream = ReadFile(paths[1]);
  CryptoPP::ZlibDecompressor inflater;
  inflater.PutMessageEnd(stream.data(), stream.size());
  std::vector<uint8_t> image(inflater.MaxRetrievable());
  inflater.Get(image.data(), image.size());
  const std::vector<uint8_t> profile = ReadFile(paths[2]);
  std::vector<uint8_t> code = ReadFile(paths[3]);
  const std::vector<uint8_t> store = ReadFile(paths[4]);
  const uint32_t before =
      static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10));
  const uint32_t after =
      static_cast<uint32_t>(std::strtoul(argv[6], nullptr, 10));

  if (image.size() < kCodeHeaderOffset + 64 || profile.empty()) {
    return Wrong("the release blocks cannot be read");
  }
  if (code.size() < image.size()) return Wrong("the code flash is too short");
  code.resize(image.size());
  if (BlockCrc(code.data(), static_cast<uint32_t>(code.size() / 4)) != 0) {
    return Wrong("the code flash fails its CRC");
  }
  const uint32_t stamped =
      BlockHeader(code.data() + kCodeHeaderOffset).programTime();
  if (stamped < before || stamped > after) {
    return Wrong("the code flash was stamped " + std::to_string(stamped) +
                 ", outside the run");
  }
  // The program time and the CRC at the end are the only bytes restamped.
  for (size_t i = 0; i < image.size(); ++i) {
    const bool restamped =
        (i >= kCodeHeaderOffset + 0x34 && i < kCodeHeaderOffset + 0x38) ||
        i >= image.size() - 4;
    if (!restamped && code[i] != image[i]) {
      return Wrong("the code flash differs from the image at " +
                   std::to_string(i));
    }
  }
  if (store.size() < profile.size() ||
      !std::equal(profile.begin(), profile.end(), store.begin())) {
    return Wrong("the store flash does not hold the profile");
  }
  std::printf("flash as programmed\n");
  return 0;
}

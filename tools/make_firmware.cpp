// Writes the sample firmware the tool carries: a W3 code block (one zlib
// stream) and the profile that goes with it. Everything comes from fixed
// seeds, so every run writes the same bytes. Options write broken variants
// for tests.
//
//   ecuprog_make_firmware [options] CODE_FILE PROFILE_FILE
//     --damaged-code      one byte of the inflated code image flipped after
//                         its checksum was stored: the code checksum fails
//     --damaged-profile   one byte of the profile flipped: its checksum fails
//     --code-revision=N   the code image claims revision N (checksum valid)
//     --min-boot=B.V      the code image needs boot code B.V (checksum valid)
//                         N, B and V: 0 to 65535, as the header holds them
//     --part-word-code    the code image is two bytes longer than a whole
//                         number of words (checksum valid, header matching):
//                         it loads, but cannot be restamped
#include <cryptopp/filters.h>
#include <cryptopp/zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "blocks/code_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kCodeLength = 451052;
constexpr size_t kCodeStreamSize = 171053;  // the released block's size
constexpr uint32_t kProfileLength = 251736;

// The end of the code area: constant tables (random) and then erased flash.
// How much of it is tables is chosen so the stream has the released size.
constexpr size_t kTailLength = 8192;
// Percentage of code steps that repeat earlier code: gives the released
// block's ratio of about 38 %.
constexpr uint32_t kRepeatPercent = 37;

struct Options {
  bool damagedCode = false;
  bool damagedProfile = false;
  bool partWordCode = false;
  int codeRevision = 1;
  int minBootBranch = 1;
  int minBootVersion = 38;
  std::string codeFile;
  std::string profileFile;
};

// SplitMix64: small, fast and the same on every host and compiler.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint32_t Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t state_;
};

void Store16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

void StoreTarget(uint8_t* header, const char* name) {
  std::memset(header + 0x10, 0, kTargetNameSize);
  std::memcpy(header + 0x10, name, std::strlen(name));
}

// The last whole word holds the checksum of everything before it.
void FixChecksum(Bytes& block) {
  uint8_t* last = block.data() + (block.size() / 4) * 4 - 4;
  StoreBigEndian32(last, 0);
  StoreBigEndian32(last, BlockCrc(block.data(), block.size() / 4));
}

uint32_t CodeAddress(Random& random) {
  return kCodeStartAddress + 4 * random.Below(kCodeLength / 4 - 1);
}

void WriteCodeHeader(uint8_t* header, uint32_t length, Random& random,
                     const Options& options) {
  Store16(header + 0x00, kBlockMagic);
  Store16(header + 0x02, kCodeBlockType);
  StoreBigEndian32(header + 0x04, kCodeStartAddress);
  StoreBigEndian32(header + 0x08, kCodeStartAddress + length - 1);
  StoreBigEndian32(header + 0x0C, 1652268145);  // 2022-05-11 11:22:25 UTC
  StoreTarget(header, "W3");
  Store16(header + 0x30, kCodeHeaderLength);
  header[0x32] = 1;
  header[0x33] = 3;
  StoreBigEndian32(header + 0x34, 0);  // programTime: set when programmed
  for (int i = 0; i < 4; ++i) {
    StoreBigEndian32(header + 0x38 + 4 * i, CodeAddress(random));
  }
  Store16(header + 0x48, 56);
  Store16(header + 0x4A, 1);
  Store16(header + 0x4C, 463);
  Store16(header + 0x4E, static_cast<uint32_t>(options.codeRevision));
  Store16(header + 0x50, static_cast<uint32_t>(options.minBootBranch));
  Store16(header + 0x52, static_cast<uint32_t>(options.minBootVersion));
  // 0x54: eight reserved bytes stay zero.
}

// Code-like bytes: short runs of fresh instruction bytes, many drawn from a
// few common opcodes, and repeats of code up to 32 KiB back.
void WriteCode(uint8_t* image, size_t from, size_t to, Random& random) {
  static const uint8_t kOpcodes[16] = {0x38, 0x3C, 0x7C, 0x80, 0x90, 0x48,
                                       0x4E, 0x60, 0x94, 0x81, 0x91, 0x2C,
                                       0x41, 0x40, 0x39, 0x00};
  size_t at = from;
  while (at < to) {
    if (at - from > 2048 && random.Below(100) < kRepeatPercent) {
      size_t length = 4 + random.Below(40);
      size_t back = 4 + random.Below(static_cast<uint32_t>(
                            std::min<size_t>(at - from, 32000)));
      for (size_t i = 0; i < length && at < to; ++i, ++at) {
        image[at] = image[at - back];
      }
    } else {
      size_t length = 1 + random.Below(12);
      for (size_t i = 0; i < length && at < to; ++i, ++at) {
        image[at] = random.Below(2) ? kOpcodes[random.Below(16)]
                                    : static_cast<uint8_t>(random.Next());
      }
    }
  }
}

// `tables` small constants, then erased flash up to the checksum.
void WriteTail(Bytes& image, uint32_t seed, size_t tables) {
  Random random(0x7A81E500 + seed);
  size_t from = image.size() - 4 - kTailLength;
  for (size_t i = 0; i < kTailLength; ++i) {
    image[from + i] =
        i < tables ? static_cast<uint8_t>(random.Below(16)) : 0xFF;
  }
}

Bytes Deflate(const Bytes& data) {
  std::string out;
  CryptoPP::ZlibCompressor compressor(new CryptoPP::StringSink(out));
  compressor.PutMessageEnd(data.data(), data.size());
  return Bytes(out.begin(), out.end());
}

// The code image without its tail, and the released block's header.
Bytes MakeCodeImage(const Options& options) {
  const uint32_t length = options.partWordCode ? kCodeLength + 2 : kCodeLength;
  Bytes image(length, 0);
  Random random(0xC0DE0001);
  // The reset and exception vectors: addresses inside the image.
  for (size_t at = 0; at < kCodeHeaderOffset; at += 4) {
    StoreBigEndian32(&image[at], CodeAddress(random));
  }
  WriteCodeHeader(&image[kCodeHeaderOffset], length, random, options);
  WriteCode(image.data(), kCodeHeaderOffset + kCodeHeaderLength,
            image.size() - 4 - kTailLength, random);
  return image;
}

// Fills the tail so that the compressed block has the released size. The
// stream grows with the length of the tables by about half a byte a byte,
// so a binary search finds the length, unless the Huffman coding steps over
// the size; then the next set of tables is tried.
bool SizeTail(Bytes& image, Bytes* stream) {
  for (uint32_t seed = 0; seed < 64; ++seed) {
    auto sizeWith = [&](size_t tables) {
      WriteTail(image, seed, tables);
      FixChecksum(image);
      *stream = Deflate(image);
      return stream->size();
    };
    size_t low = 0;
    size_t high = kTailLength;
    if (sizeWith(low) > kCodeStreamSize || sizeWith(high) < kCodeStreamSize) {
      return false;
    }
    while (low < high) {
      size_t middle = low + (high - low) / 2;
      if (sizeWith(middle) < kCodeStreamSize) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    if (sizeWith(low) == kCodeStreamSize) return true;
  }
  return false;
}

Bytes MakeProfile() {
  Bytes profile(kProfileLength, 0xFF);
  uint8_t* header = profile.data();
  Store16(header + 0x00, kBlockMagic);
  Store16(header + 0x02, kProfileBlockType);
  StoreBigEndian32(header + 0x04, 0);
  StoreBigEndian32(header + 0x08, kProfileLength - 1);
  StoreBigEndian32(header + 0x0C, 1652267890);  // 2022-05-11 11:18:10 UTC
  StoreTarget(header, "W3");
  Store16(header + 0x30, kProfileHeaderLength);
  header[0x32] = 1;
  header[0x33] = 0;
  Store16(header + 0x34, 1);    // codeBranch
  Store16(header + 0x36, 463);  // codeVersion
  Store16(header + 0x38, 1);    // maxCodeRevision
  Store16(header + 0x3A, 1);    // minCodeRevision
  Store16(header + 0x3C, 1);
  Store16(header + 0x3E, 1);
  // Calibration maps: runs of 16-bit values that change smoothly, then
  // erased store up to the checksum.
  Random random(0x9A0F11E);
  size_t at = kProfileHeaderLength;
  size_t end = profile.size() - 4 - 6000;
  while (at + 2 <= end) {
    uint32_t value = random.Below(0x10000);
    size_t count = 8 + random.Below(120);
    for (size_t i = 0; i < count && at + 2 <= end; ++i, at += 2) {
      Store16(&profile[at], value);
      value = (value + random.Below(64) - 24) & 0xFFFF;
    }
  }
  FixChecksum(profile);
  return profile;
}

// A header field of 16 bits, written in decimal: digits only, no sign, no
// blanks, nothing after them, at most 65535. std::atoi and sscanf would
// take "65537" as 65537 and store it as 1, "-1" as 65535, and "1.38x" as
// 1.38.
bool ParseField(const std::string& text, int* value) {
  if (text.empty()) return false;
  long read = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    read = read * 10 + (c - '0');
    if (read > 0xFFFF) return false;
  }
  *value = static_cast<int>(read);
  return true;
}

// Whether `arg` is the option `name` ("--code-revision=", say); if so, its
// value goes to `value`.
bool IsOption(const std::string& arg, const char* name, std::string* value) {
  const size_t length = std::strlen(name);
  if (arg.compare(0, length, name) != 0) return false;
  *value = arg.substr(length);
  return true;
}

// False with the refusal in `refusal` when an option or the files are not
// as the tool takes them; `refusal` stays empty for a plain usage error.
bool ParseOptions(int argc, char** argv, Options* options,
                  std::string* refusal) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    if (arg == "--damaged-code") {
      options->damagedCode = true;
    } else if (arg == "--damaged-profile") {
      options->damagedProfile = true;
    } else if (arg == "--part-word-code") {
      options->partWordCode = true;
    } else if (IsOption(arg, "--code-revision=", &value)) {
      if (!ParseField(value, &options->codeRevision)) {
        *refusal = "--code-revision: \"" + value +
                   "\" is not a whole number from 0 to 65535";
        return false;
      }
    } else if (IsOption(arg, "--min-boot=", &value)) {
      const size_t dot = value.find('.');
      if (dot == std::string::npos ||
          !ParseField(value.substr(0, dot), &options->minBootBranch) ||
          !ParseField(value.substr(dot + 1), &options->minBootVersion)) {
        *refusal = "--min-boot: \"" + value +
                   "\" is not BRANCH.VERSION, each a whole number from 0 to "
                   "65535";
        return false;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return false;
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) return false;
  options->codeFile = files[0];
  options->profileFile = files[1];
  return true;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string refusal;
  if (!ParseOptions(argc, argv, &options, &refusal)) {
    if (!refusal.empty()) {
      std::fprintf(stderr, "ecuprog_make_firmware: %s\n", refusal.c_str());
      return 2;
    }
    std::fprintf(stderr,
                 "usage: %s [--damaged-code] [--damaged-profile] "
                 "[--code-revision=N] [--min-boot=B.V] [--part-word-code] "
                 "CODE_FILE "
                 "PROFILE_FILE\n",
                 argv[0]);
    return 2;
  }
  BuildCrcTable();

  Bytes image = MakeCodeImage(options);
  Bytes stream;
  if (options.partWordCode) {
    // Not the released block's size: no search for it.
    WriteTail(image, 0, kTailLength / 2);
    FixChecksum(image);
    stream = Deflate(image);
  } else if (!SizeTail(image, &stream)) {
    std::fprintf(stderr, "cannot make a code block of %zu bytes\n",
                 kCodeStreamSize);
    return 1;
  }
  if (options.damagedCode) {
    image[0x20000] ^= 0x01;
    stream = Deflate(image);
  }
  Bytes profile = MakeProfile();
  if (options.damagedProfile) profile[0x1000] ^= 0x01;

  if (!WriteFile(options.codeFile, stream) ||
      !WriteFile(options.profileFile, profile)) {
    std::fprintf(stderr, "cannot write the blocks\n");
    return 1;
  }
  std::printf("%s: %zu bytes, inflating to %zu (%.2f %%)\n",
              options.codeFile.c_str(), stream.size(), image.size(),
              100.0 * static_cast<double>(stream.size()) /
                  static_cast<double>(image.size()));
  std::printf("%s: %zu bytes\n", options.profileFile.c_str(), profile.size());
  return 0;
}

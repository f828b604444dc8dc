#include "sim/sample_blocks.h"

#include <algorithm>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "blocks/code_image.h"
#include "sim/code_flash_check.h"

namespace {

void PutBig16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

void FillPseudoRandom(std::vector<uint8_t>& bytes, uint32_t seed) {
  uint32_t x = seed * 2654435761u + 1;
  for (uint8_t& byte : bytes) {
    x = x * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(x >> 24);
  }
}

// The fields both block types share, at `header`.
void PutCommonHeader(uint8_t* header, uint16_t blockType, uint32_t start,
                     uint32_t length, const std::string& targetName,
                     uint16_t headerLength, uint8_t versionY) {
  std::fill(header, header + headerLength, 0);
  PutBig16(header + 0x00, kBlockMagic);
  PutBig16(header + 0x02, blockType);
  StoreBigEndian32(header + 0x04, start);
  StoreBigEndian32(header + 0x08, start + length - 1);
  StoreBigEndian32(header + 0x0C, 1700000000u);  // 2023-11-14
  std::copy_n(targetName.begin(),
              std::min(targetName.size(), kTargetNameSize - 1), header + 0x10);
  PutBig16(header + 0x30, headerLength);
  header[0x32] = 1;
  header[0x33] = versionY;
}

void SealChecksum(std::vector<uint8_t>& bytes) {
  EnsureCrcTable();
  uint8_t* last = bytes.data() + bytes.size() - 4;
  std::fill(last, last + 4, 0);
  StoreBigEndian32(
      last, BlockCrc(bytes.data(), static_cast<uint32_t>(bytes.size() / 4)));
}

}  // namespace

std::vector<uint8_t> MakeSampleCodeBlock(const SampleCodeBlock& block) {
  std::vector<uint8_t> bytes(std::max<uint32_t>(block.length & ~3u, 512));
  FillPseudoRandom(bytes, block.seed);
  uint8_t* header = bytes.data() + kCodeHeaderOffset;
  PutCommonHeader(header, kCodeBlockType, kCodeStartAddress,
                  static_cast<uint32_t>(bytes.size()), block.targetName,
                  kCodeHeaderLength, 3);
  // The four addresses point into the block, as in real code blocks.
  for (uint32_t i = 0; i < 4; ++i) {
    StoreBigEndian32(header + 0x38 + 4 * i, kCodeStartAddress + 0x400 * i);
  }
  PutBig16(header + 0x48, 56);
  PutBig16(header + 0x4A, block.codeBranch);
  PutBig16(header + 0x4C, block.codeVersion);
  PutBig16(header + 0x4E, block.codeRevision);
  PutBig16(header + 0x50, block.minBootBranch);
  PutBig16(header + 0x52, block.minBootVersion);
  SealChecksum(bytes);
  return bytes;
}

std::vector<uint8_t> MakeSampleProfileBlock(const SampleProfileBlock& block) {
  std::vector<uint8_t> bytes(std::max<uint32_t>(block.length & ~3u, 1024));
  FillPseudoRandom(bytes, block.seed ^ 0x5A5A5A5Au);
  PutCommonHeader(bytes.data(), kProfileBlockType, 0,
                  static_cast<uint32_t>(bytes.size()), block.targetName,
                  kProfileHeaderLength, 0);
  PutBig16(bytes.data() + 0x34, block.codeBranch);
  PutBig16(bytes.data() + 0x36, block.codeVersion);
  PutBig16(bytes.data() + 0x38, block.maxCodeRevision);
  PutBig16(bytes.data() + 0x3A, block.minCodeRevision);
  PutBig16(bytes.data() + 0x3C, 1);
  PutBig16(bytes.data() + 0x3E, 1);
  SealChecksum(bytes);
  return bytes;
}

#include "sim/code_flash_check.h"

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "blocks/code_image.h"

void EnsureCrcTable() {
  static bool built = false;
  if (!built) BuildCrcTable();
  built = true;
}

std::optional<CodeRelease> BootableCode(const std::vector<uint8_t>& codeFlash,
                                        const std::string& modelName) {
  if (codeFlash.size() < kCodeHeaderOffset + kCodeHeaderLength) {
    return std::nullopt;
  }
  const BlockHeader header(codeFlash.data() + kCodeHeaderOffset);
  if (header.magic() != kBlockMagic || header.blockType() != kCodeBlockType ||
      header.startAddress() != kCodeStartAddress ||
      header.headerVersionX() != 1 || header.headerVersionY() < 1 ||
      header.headerVersionY() > 3 || header.targetName() != modelName) {
    return std::nullopt;
  }
  // The block must reach past its own header and end inside the flash.
  const uint32_t end = header.endAddress();
  if (end < kCodeStartAddress + kCodeHeaderOffset + kCodeHeaderLength ||
      end - kCodeStartAddress >= codeFlash.size()) {
    return std::nullopt;
  }
  const uint32_t length = end - kCodeStartAddress + 1;
  EnsureCrcTable();
  if (BlockCrc(codeFlash.data(), length / 4) != 0) return std::nullopt;
  return CodeRelease{header.codeBranch(), header.codeVersion(),
                     header.codeRevision()};
}

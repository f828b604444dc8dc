#include "sim/store_flash_check.h"

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "blocks/profile_block.h"

namespace {

// The shortest profile block there is.
constexpr uint32_t kMinProfileLength = 1024;

}  // namespace

bool HoldsProfileFor(const std::vector<uint8_t>& storeFlash,
                     const std::string& modelName, const CodeRelease& code) {
  if (storeFlash.size() < kMinProfileLength) return false;
  const BlockHeader header(storeFlash.data());
  if (header.magic() != kBlockMagic ||
      header.blockType() != kProfileBlockType || header.startAddress() != 0 ||
      header.headerVersionX() != 1 || header.headerVersionY() != 0 ||
      header.targetName() != modelName) {
    return false;
  }
  // Compared before the length is added to, so no end address wraps.
  const uint32_t end = header.endAddress();
  if (end < kMinProfileLength - 1 || end >= kMaxProfileLength ||
      end >= storeFlash.size()) {
    return false;
  }
  if (header.profileCodeBranch() != code.branch ||
      header.profileCodeVersion() != code.version ||
      code.revision < header.minCodeRevision() ||
      code.revision > header.maxCodeRevision()) {
    return false;
  }
  EnsureCrcTable();
  return BlockCrc(storeFlash.data(), (end + 1) / 4) == 0;
}

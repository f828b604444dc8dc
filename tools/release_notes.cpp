#include "tools/release_notes.h"

#include <cstdio>
#include <sstream>

#include "blocks/block_sha256.h"

namespace {

// A block keeps its checksum in its last four bytes, most significant
// byte first.
std::string StoredChecksum(const uint8_t* block, uint32_t length) {
  const uint8_t* tail = block + length - 4;
  uint32_t value = static_cast<uint32_t>(tail[0]) << 24 |
                   static_cast<uint32_t>(tail[1]) << 16 |
                   static_cast<uint32_t>(tail[2]) << 8 | tail[3];
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string DescribeRelease(const ReleaseBlocks& blocks,
                            const std::string& sourceRevision) {
  BlockHeader code(blocks.codeImage + kCodeHeaderOffset);
  BlockHeader profile(blocks.profile);
  const std::vector<uint8_t>& stream = *blocks.compressedCode;
  std::ostringstream out;
  out << "Tool version: " << ECUPROG_VERSION << "\n"
      << "Source revision: " << sourceRevision << "\n"
      << "Target model: " << code.targetName() << "\n"
      << "Firmware release: " << code.codeBranch() << "." << code.codeVersion()
      << "." << code.codeRevision() << "\n"
      << "Minimum boot code release: " << code.minBootBranch() << "."
      << code.minBootVersion() << "\n"
      << "Code block size: " << blocks.codeLength << " bytes (" << stream.size()
      << " bytes compressed)\n"
      << "Code block stored checksum: "
      << StoredChecksum(blocks.codeImage, blocks.codeLength) << "\n"
      << "Code block SHA-256 (compressed, as embedded): "
      << BlockSha256(stream.data(), stream.size()) << "\n"
      << "Profile block size: " << blocks.profileLength << " bytes\n"
      << "Profile block stored checksum: "
      << StoredChecksum(blocks.profile, blocks.profileLength) << "\n"
      << "Profile block SHA-256: "
      << BlockSha256(blocks.profile, blocks.profileLength) << "\n"
      << "Profile for code release: " << profile.profileCodeBranch() << "."
      << profile.profileCodeVersion() << ", revisions "
      << profile.minCodeRevision() << " to " << profile.maxCodeRevision()
      << "\n";
  return out.str();
}

#include "blocks/firmware_record.h"

#include <cstdio>
#include <string>

#include "blocks/block_sha256.h"
#include "report/job_record.h"

namespace {

// The code block as embedded, before inflating: the form the release notes
// give its SHA-256 for. It was found and read already, so it is there.
std::string EmbeddedCodeSha256() {
  HRSRC found =
      FindResourceA(/*hModule=*/nullptr, MAKEINTRESOURCEA(kCodeResourceId),
                    /*lpType=*/"IMAGE");
  HGLOBAL loaded = found ? LoadResource(/*hModule=*/nullptr, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return "";
  return BlockSha256(static_cast<const uint8_t*>(bytes),
                     SizeofResource(/*hModule=*/nullptr, found));
}

std::string Release(uint16_t branch, uint16_t version) {
  return std::to_string(branch) + "." + std::to_string(version);
}

}  // namespace

void RecordFirmware(const CodeImage& image, const ProfileBlock& profile) {
  if (!JobRecordOpen()) return;
  const BlockHeader code = image.header();
  const BlockHeader profileHeader(profile.bytes);
  RecordEntry(
      {{"entry", "firmware"},
       {"target", code.targetName()},
       {"release", Release(code.codeBranch(), code.codeVersion()) + "." +
                       std::to_string(code.codeRevision())},
       {"minimum boot", Release(code.minBootBranch(), code.minBootVersion())},
       {"code block time", code.blockTime()},
       {"profile block time", profileHeader.blockTime()},
       {"code block sha256", EmbeddedCodeSha256()},
       {"profile block sha256", BlockSha256(profile.bytes, profile.length)}});
}

void RecordRestamp(const CodeImage& image) {
  if (!JobRecordOpen()) return;
  // The checksum sits in the image's last four bytes, most significant
  // byte first.
  const uint8_t* tail = image.bytes.get() + image.length - 4;
  char checksum[16];
  std::snprintf(
      checksum, sizeof checksum, "0x%08X",
      static_cast<unsigned>(static_cast<uint32_t>(tail[0]) << 24 |
                            static_cast<uint32_t>(tail[1]) << 16 |
                            static_cast<uint32_t>(tail[2]) << 8 | tail[3]));
  RecordEntry({{"entry", "restamp"},
               {"programming time", image.header().programTime()},
               {"checksum", checksum}});
}

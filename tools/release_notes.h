// RELEASE.txt: what a release kit's program carries, written from the
// blocks themselves so that it cannot disagree with them.
#ifndef ECUPROG_TOOLS_RELEASE_NOTES_H
#define ECUPROG_TOOLS_RELEASE_NOTES_H

#include <cstdint>
#include <string>
#include <vector>

#include "blocks/block_header.h"

/// The blocks a program carries, after the tool's own validation passed:
/// the zlib stream as embedded, the code image it inflates to, and the
/// profile block.
struct ReleaseBlocks {
  const std::vector<uint8_t>* compressedCode = nullptr;
  const uint8_t* codeImage = nullptr;
  uint32_t codeLength = 0;
  const uint8_t* profile = nullptr;
  uint32_t profileLength = 0;
};

/// "Key: value" lines, one fact each: the tool version, the source
/// revision, the target model, firmware release, minimum boot code
/// release, each block's size, stored checksum and SHA-256, and the code
/// release and revisions the profile is made for. The values are printed
/// as the tool prints them in a run ("1.463.1", boot code "1.40").
std::string DescribeRelease(const ReleaseBlocks& blocks,
                            const std::string& sourceRevision);

#endif  // ECUPROG_TOOLS_RELEASE_NOTES_H

// The profile block the tool carries (resource "IMAGE" 1002): validated in
// place and checked against the code image it is to go with.
#ifndef ECUPROG_BLOCKS_PROFILE_BLOCK_H
#define ECUPROG_BLOCKS_PROFILE_BLOCK_H

#include <cstdint>

#include "blocks/block_header.h"

constexpr int kProfileResourceId = 1002;
constexpr uint32_t kMaxProfileLength = 0x3FFFF;

/// A read-only view of the embedded resource; valid for the whole process.
struct ProfileBlock {
  const uint8_t* bytes = nullptr;
  uint32_t length = 0;
};

/// Finds and validates the embedded profile against the code header, then
/// writes "Ready to program <target> firmware release <b>.<v>.<r>". Returns
/// only when every test has passed; any fault ends the run through StopRun.
ProfileBlock LoadProfileBlock(const BlockHeader& codeHeader);

#endif  // ECUPROG_BLOCKS_PROFILE_BLOCK_H

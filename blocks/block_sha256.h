// A block's SHA-256, as the release notes and the job's record give it.
#ifndef ECUPROG_BLOCKS_BLOCK_SHA256_H
#define ECUPROG_BLOCKS_BLOCK_SHA256_H

#include <cstddef>
#include <cstdint>
#include <string>

/// The SHA-256 of the bytes, as 64 lowercase hex digits.
std::string BlockSha256(const uint8_t* bytes, size_t length);

#endif  // ECUPROG_BLOCKS_BLOCK_SHA256_H

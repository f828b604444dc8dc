// The code image: the zlib-compressed code block the tool carries (resource
// "IMAGE" 1001), inflated into a buffer of its own and validated.
#ifndef ECUPROG_BLOCKS_CODE_IMAGE_H
#define ECUPROG_BLOCKS_CODE_IMAGE_H

#include <cstdint>
#include <memory>

#include "blocks/block_header.h"

constexpr int kCodeResourceId = 1001;
constexpr uint32_t kCodeStartAddress = 0x00010000;

struct CodeImage {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t length = 0;

  /// The code block's header, at offset 256.
  BlockHeader header() const {
    return BlockHeader(bytes.get() + kCodeHeaderOffset);
  }
};

/// Finds, inflates and validates the embedded code block. Returns only when
/// every test has passed; any fault ends the run through StopRun.
CodeImage LoadCodeImage();

#endif  // ECUPROG_BLOCKS_CODE_IMAGE_H

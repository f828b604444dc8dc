#include "blocks/code_image.h"

#include <cryptopp/zlib.h>

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "blocks/block_crc.h"
#include "blocks/image_resource.h"
#include "report/stop_run.h"

namespace {

constexpr char kDecompressionFailed[] = "CODE DECOMPRESSION FAILED";

// Inflates the whole stream in one pass; the inflated bytes stay inside the
// decompressor that is returned. None when the stream cannot be inflated:
// Crypto++ reports a bad header, an unsupported method or preset
// dictionary, damaged or cut short data and an Adler-32 mismatch by
// throwing, and running out of memory half way is no better.
std::unique_ptr<CryptoPP::ZlibDecompressor> Inflate(const ImageResource& in,
                                                    CryptoPP::lword* inflated) {
  try {
    auto decompressor = std::make_unique<CryptoPP::ZlibDecompressor>();
    decompressor->PutMessageEnd(in.bytes, in.size);
    *inflated = decompressor->MaxRetrievable();
    // Bytes after the end of the stream are passed on unchecked as a second
    // message that MaxRetrievable does not count. The block is one stream
    // and nothing else, so such a resource is not the block that was built.
    if (decompressor->TotalBytesRetrievable() != *inflated) return nullptr;
    return decompressor;
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace

CodeImage LoadCodeImage() {
  ImageResource resource = LoadImageResource(
      kCodeResourceId,
      {"CODE RESOURCE NOT FOUND", "CODE RESOURCE TOO SMALL",
       "COULD NOT LOAD CODE RESOURCE", "COULD NOT LOCK CODE RESOURCE"});

  CryptoPP::lword inflated = 0;
  // StopRun is called outside any handler: a stop that unwinds (tests,
  // tools) must not start inside a catch block.
  std::unique_ptr<CryptoPP::ZlibDecompressor> decompressor =
      Inflate(resource, &inflated);
  if (!decompressor) StopRun(1, kDecompressionFailed);
  // The image's length is a 32-bit number; an inflated length that does not
  // fit would be cut to a wrong one.
  if (inflated > 0xFFFFFFFF) StopRun(1, kDecompressionFailed);
  uint32_t length = static_cast<uint32_t>(inflated);
  if (length <= resource.size) StopRun(1, "CODE DECOMPRESSION DIDN'T!!!");

  CodeImage image;
  image.bytes.reset(new (std::nothrow) uint8_t[length]);
  if (!image.bytes) StopRun(1, "COULD NOT ALLOCATE CODE IMAGE");
  decompressor->Get(image.bytes.get(), length);
  image.length = length;
  decompressor.reset();

  if (BlockCrc(image.bytes.get(), length / 4) != 0) {
    StopRun(1, "CODE BLOCK CRC CHECK FAILED");
  }
  BlockHeader header = image.header();
  if (header.magic() != kBlockMagic) StopRun(1, "BAD CODE BLOCK MAGIC");
  if (header.blockType() != kCodeBlockType) StopRun(1, "NOT A CODE BLOCK");
  std::string target = header.targetName();
  if (target != "W3" && target != "W17") StopRun(1, "NOT W3/W17 CODE");
  if (header.startAddress() != kCodeStartAddress) {
    StopRun(1, "CODE BLOCK START FIELD INCORRECT");
  }
  // The whole image goes to the code flash from kCodeStartAddress on, so
  // the header must name exactly the addresses it will occupy.
  if (header.endAddress() !=
      static_cast<uint32_t>(kCodeStartAddress + length - 1)) {
    StopRun(1, "CODE BLOCK END FIELD INCORRECT");
  }
  if (header.headerVersionX() != 1) StopRun(1, "UNKNOWN CODE HEADER X VERSION");
  if (header.headerVersionY() < 1 || header.headerVersionY() > 3) {
    StopRun(1, "UNKNOWN CODE HEADER Y VERSION");
  }
  return image;
}

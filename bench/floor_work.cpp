#include "bench/floor_work.h"

#include <cryptopp/zlib.h>

#include <cstring>
#include <memory>

#include "blocks/code_image.h"
#include "blocks/image_resource.h"
#include "blocks/profile_block.h"

namespace {

const ImageResourceMessages kMessages = {"NOT FOUND", "TOO SMALL",
                                         "CANNOT LOAD", "CANNOT LOCK"};

// Tells the compiler that the bytes may have changed, so that three passes
// over the same image stay three passes.
void ForgetContents(const void* bytes) {
  asm volatile("" : : "r"(bytes) : "memory");
}

}  // namespace

uint64_t ReadPass(const uint8_t* bytes, size_t length) {
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    sum ^= word;
  }
  for (; i < length; ++i) sum ^= bytes[i];
  return sum;
}

uint64_t DoFloorWork() {
  const ImageResource code = LoadImageResource(kCodeResourceId, kMessages);
  const ImageResource profile =
      LoadImageResource(kProfileResourceId, kMessages);
  CryptoPP::ZlibDecompressor inflater;
  inflater.PutMessageEnd(code.bytes, code.size);
  const size_t length = static_cast<size_t>(inflater.MaxRetrievable());
  std::unique_ptr<uint8_t[]> image(new uint8_t[length]);
  inflater.Get(image.get(), length);
  uint64_t sum = 0;
  for (int pass = 0; pass < 3; ++pass) {
    ForgetContents(image.get());
    sum += ReadPass(image.get(), length);
  }
  return sum + ReadPass(profile.bytes, profile.size);
}

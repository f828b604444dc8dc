#include "tests/e2e/job_checks.h"

#include <cryptopp/zlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "blocks/code_image.h"

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> EmbeddedCodeImage() {
  std::vector<uint8_t> stream =
      ReadFile(std::string(ECUPROG_SOURCE_DIR) + "/resources/w3_code.zlib");
  CryptoPP::ZlibDecompressor inflater;
  inflater.PutMessageEnd(stream.data(), stream.size());
  std::vector<uint8_t> image(inflater.MaxRetrievable());
  inflater.Get(image.data(), image.size());
  return image;
}

std::vector<uint8_t> EmbeddedProfile() {
  return ReadFile(std::string(ECUPROG_SOURCE_DIR) +
                  "/resources/w3_profile.bin");
}

void ExpectRestampedImage(std::vector<uint8_t> code, uint32_t before,
                          uint32_t after) {
  BuildCrcTable();
  const std::vector<uint8_t> image = EmbeddedCodeImage();
  ASSERT_GE(code.size(), image.size());
  code.resize(image.size());
  EXPECT_EQ(BlockCrc(code.data(), static_cast<uint32_t>(code.size() / 4)), 0u);
  BlockHeader header(code.data() + kCodeHeaderOffset);
  EXPECT_GE(header.programTime(), before);
  EXPECT_LE(header.programTime(), after);
  for (size_t i = 0; i < image.size(); ++i) {
    // The program time and the checksum are what restamping changes.
    bool stamped = (i >= 308 && i < 312) || i >= image.size() - 4;
    if (!stamped && code[i] != image[i]) {
      ADD_FAILURE() << "code flash differs at " << i;
      break;
    }
  }
}

void ExpectProfile(const std::vector<uint8_t>& store) {
  const std::vector<uint8_t> profile = EmbeddedProfile();
  ASSERT_GE(store.size(), profile.size());
  EXPECT_TRUE(std::equal(profile.begin(), profile.end(), store.begin()))
      << "the store flash does not hold the profile";
}

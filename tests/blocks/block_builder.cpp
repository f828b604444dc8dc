#include "tests/blocks/block_builder.h"

#include <cryptopp/filters.h>
#include <cryptopp/zlib.h>

#include <cstring>
#include <random>
#include <stdexcept>

#include "blocks/block_header.h"

uint32_t ReferenceCrc(const uint8_t* bytes, size_t length) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint32_t>(bytes[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
  }
  return ~crc;
}

uint16_t GetU16(const Block& block, size_t offset) {
  return static_cast<uint16_t>(block.at(offset) << 8 | block.at(offset + 1));
}

uint32_t GetU32(const Block& block, size_t offset) {
  return static_cast<uint32_t>(block.at(offset)) << 24 |
         static_cast<uint32_t>(block.at(offset + 1)) << 16 |
         static_cast<uint32_t>(block.at(offset + 2)) << 8 |
         static_cast<uint32_t>(block.at(offset + 3));
}

void SetU16(Block& block, size_t offset, uint16_t value) {
  block.at(offset) = static_cast<uint8_t>(value >> 8);
  block.at(offset + 1) = static_cast<uint8_t>(value);
}

void SetU32(Block& block, size_t offset, uint32_t value) {
  SetU16(block, offset, static_cast<uint16_t>(value >> 16));
  SetU16(block, offset + 2, static_cast<uint16_t>(value));
}

void SetTargetName(Block& block, size_t header, const std::string& name) {
  for (size_t i = 0; i < kTargetNameSize; ++i) {
    block.at(header + 0x10 + i) = i < name.size() ? name[i] : 0;
  }
}

Edit SetByteAt(size_t offset, uint8_t value) {
  return [=](Block& block) { block.at(offset) = value; };
}

Edit SetU16At(size_t offset, uint16_t value) {
  return [=](Block& block) { SetU16(block, offset, value); };
}

Edit SetU32At(size_t offset, uint32_t value) {
  return [=](Block& block) { SetU32(block, offset, value); };
}

Edit SetTargetAt(size_t header, const std::string& name) {
  return [=](Block& block) { SetTargetName(block, header, name); };
}

void FixChecksum(Block& block) {
  size_t last = (block.size() / 4) * 4 - 4;
  SetU32(block, last, ReferenceCrc(block.data(), last));
}

Block ValidCodeImage(uint32_t length, uint32_t seed) {
  // Small values, like code: the image compresses to about half.
  Block image(length);
  std::mt19937 random(seed);
  for (uint8_t& byte : image) byte = static_cast<uint8_t>(random() % 16);
  const size_t h = kCodeHeaderOffset;
  std::fill(image.begin() + h, image.begin() + h + kCodeHeaderLength, 0);
  SetU16(image, h + 0x00, 0xC0DE);
  SetU16(image, h + 0x02, 1);
  SetU32(image, h + 0x04, 0x00010000);
  SetU32(image, h + 0x08, 0x00010000 + length - 1);
  SetU32(image, h + 0x0C, 1652268145);
  SetTargetName(image, h, "W3");
  SetU16(image, h + 0x30, 92);
  image[h + 0x32] = 1;
  image[h + 0x33] = 3;
  SetU16(image, h + 0x48, 56);
  SetU16(image, h + 0x4A, 1);
  SetU16(image, h + 0x4C, 463);
  SetU16(image, h + 0x4E, 1);
  SetU16(image, h + 0x50, 1);
  SetU16(image, h + 0x52, 38);
  FixChecksum(image);
  return image;
}

Block ValidProfile(uint32_t length) {
  Block profile(length);
  std::mt19937 random(length);
  for (uint8_t& byte : profile) byte = static_cast<uint8_t>(random());
  std::fill(profile.begin(), profile.begin() + kProfileHeaderLength, 0);
  SetU16(profile, 0x00, 0xC0DE);
  SetU16(profile, 0x02, 3);
  SetU32(profile, 0x04, 0);
  SetU32(profile, 0x08, length - 1);
  SetU32(profile, 0x0C, 1652267890);
  SetTargetName(profile, 0, "W3");
  SetU16(profile, 0x30, 64);
  profile[0x32] = 1;
  profile[0x33] = 0;
  SetU16(profile, 0x34, 1);
  SetU16(profile, 0x36, 463);
  SetU16(profile, 0x38, 1);
  SetU16(profile, 0x3A, 1);
  SetU16(profile, 0x3C, 1);
  SetU16(profile, 0x3E, 1);
  FixChecksum(profile);
  return profile;
}

Block Deflate(const Block& data, int level) {
  std::string out;
  CryptoPP::ZlibCompressor compressor(new CryptoPP::StringSink(out),
                                      static_cast<unsigned>(level));
  compressor.PutMessageEnd(data.data(), data.size());
  return Block(out.begin(), out.end());
}

Block CodeStreamOfSize(uint32_t imageLength, size_t streamSize) {
  // The first `random` bytes outside the header are random, the rest zero:
  // the stream grows with `random` by about a byte a byte, so a binary
  // search finds the size unless Huffman coding steps over it; then another
  // seed is tried.
  for (uint32_t seed = 1; seed < 64; ++seed) {
    Block image = ValidCodeImage(imageLength, seed);
    std::mt19937 random(seed);
    Block noise(imageLength);
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
    auto streamWith = [&](size_t random) {
      size_t kept = 0;
      for (size_t i = 0; i + 4 < image.size(); ++i) {
        bool header =
            i >= kCodeHeaderOffset && i < kCodeHeaderOffset + kCodeHeaderLength;
        if (!header) image[i] = kept++ < random ? noise[i] : 0;
      }
      FixChecksum(image);
      return Deflate(image);
    };
    size_t low = 0;
    size_t high = imageLength;
    while (low < high) {
      size_t middle = low + (high - low) / 2;
      if (streamWith(middle).size() < streamSize) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    Block stream = streamWith(low);
    if (stream.size() == streamSize) return stream;
  }
  return Block();
}

FirmwareResources::~FirmwareResources() { UseResourceTable(nullptr, 0); }

void FirmwareResources::Put(int id, ImageEntry entry) {
  if (entry.missing) return;
  if (count_ == sizeof(table_) / sizeof(table_[0])) {
    throw std::length_error("too many resources");
  }
  blocks_.push_back(std::move(entry.bytes));
  const Block& bytes = blocks_.back();
  table_[count_++] = EmbeddedResource{"IMAGE",
                                      static_cast<WORD>(id),
                                      nullptr,
                                      entry.noPointer ? nullptr : bytes.data(),
                                      static_cast<DWORD>(bytes.size()),
                                      entry.refusesLoad};
  UseResourceTable(table_, count_);
}

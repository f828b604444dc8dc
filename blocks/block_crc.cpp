#include "blocks/block_crc.h"

#include <cstddef>

uint32_t CrcTable[256];

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;

uint32_t ReverseBytes(uint32_t v) {
  return v >> 24 | (v >> 8 & 0x0000FF00) | (v << 8 & 0x00FF0000) | v << 24;
}

// Words are little-endian whatever the host: assembling them from bytes
// keeps the result the same on every host and at any alignment.
uint32_t LoadLittleEndian32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

}  // namespace

void BuildCrcTable() {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t v = i << 24;
    for (int bit = 0; bit < 8; ++bit) {
      v = (v & 0x80000000) ? (v << 1) ^ kPolynomial : v << 1;
    }
    CrcTable[i] = ReverseBytes(v);
  }
}

uint32_t BlockCrc(const void* words, uint32_t count) {
  if (count == 0) return 0xFFFFFFFF;
  const auto* bytes = static_cast<const uint8_t*>(words);
  // The register holds the MSB-first CRC with its bytes reversed, so the
  // little-endian words can be fed straight in. The last word enters without
  // the four table steps, which leaves CRC(all but the last word) XOR the
  // last word: 0 when the block ends in its own big-endian checksum.
  uint32_t r = ~LoadLittleEndian32(bytes);
  for (uint32_t k = 1; k < count; ++k) {
    for (int step = 0; step < 4; ++step) r = (r >> 8) ^ CrcTable[r & 0xFF];
    r ^= LoadLittleEndian32(bytes + 4 * static_cast<size_t>(k));
  }
  return ReverseBytes(~r);
}

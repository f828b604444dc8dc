#include "blocks/block_crc.h"

#include <cstddef>

#include "blocks/block_crc_clmul.h"

uint32_t CrcTable[256];

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;

// Folding needs four lanes of 16 bytes to start; shorter runs are quicker
// through the tables anyway.
constexpr size_t kShortestFold = 64;

// g_sliceTable[k - 1][i]: the register change of byte i followed by k zero
// bytes, for k = 1 to 7; CrcTable is k = 0.
uint32_t g_sliceTable[7][256];

CrcMethod g_method = CrcMethod::kSlicingBy8;

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

// Advances the register by `length` bytes, eight at a time. The register
// holds the CRC with its bytes reversed, as CrcTable does: 0xFFFFFFFF to
// start, and the CRC of the bytes is its complement reversed.
uint32_t SlicedCrcUpdate(uint32_t reg, const uint8_t* bytes, size_t length) {
  const uint32_t(&t)[7][256] = g_sliceTable;
  for (; length >= 8; bytes += 8, length -= 8) {
    uint32_t first = LoadLittleEndian32(bytes) ^ reg;
    uint32_t second = LoadLittleEndian32(bytes + 4);
    reg = t[6][first & 0xFF] ^ t[5][first >> 8 & 0xFF] ^
          t[4][first >> 16 & 0xFF] ^ t[3][first >> 24] ^ t[2][second & 0xFF] ^
          t[1][second >> 8 & 0xFF] ^ t[0][second >> 16 & 0xFF] ^
          CrcTable[second >> 24];
  }
  for (; length > 0; ++bytes, --length) {
    reg = (reg >> 8) ^ CrcTable[(reg ^ *bytes) & 0xFF];
  }
  return reg;
}

// The register after `length` bytes: the bulk folded by carry-less
// multiplication, the folded value and the last 0 to 15 bytes through the
// tables.
uint32_t FoldedCrcUpdate(ClmulWidth width, uint32_t reg, const uint8_t* bytes,
                         size_t length) {
  if (length < kShortestFold) return SlicedCrcUpdate(reg, bytes, length);
  size_t folded = length & ~size_t{15};
  uint8_t remainder[16];
  ClmulCrcFold(width, reg, bytes, folded, remainder);
  reg = SlicedCrcUpdate(0, remainder, sizeof remainder);
  return SlicedCrcUpdate(reg, bytes + folded, length - folded);
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
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t v = CrcTable[i];
    for (int k = 0; k < 7; ++k) {
      v = (v >> 8) ^ CrcTable[v & 0xFF];
      g_sliceTable[k][i] = v;
    }
  }
  g_method = CrcMethod::kSlicingBy8;
  if (CrcMethodAvailable(CrcMethod::kClmul128)) g_method = CrcMethod::kClmul128;
  if (CrcMethodAvailable(CrcMethod::kClmul256)) g_method = CrcMethod::kClmul256;
}

uint32_t BlockCrcReference(const void* words, uint32_t count) {
  if (count == 0) return 0xFFFFFFFF;
  const auto* bytes = static_cast<const uint8_t*>(words);
  // The last word enters the register without the four table steps, which
  // leaves CRC(all but the last word) XOR the last word: 0 when the block
  // ends in its own big-endian checksum.
  uint32_t r = ~LoadLittleEndian32(bytes);
  for (uint32_t k = 1; k < count; ++k) {
    for (int step = 0; step < 4; ++step) r = (r >> 8) ^ CrcTable[r & 0xFF];
    r ^= LoadLittleEndian32(bytes + 4 * static_cast<size_t>(k));
  }
  return ReverseBytes(~r);
}

bool CrcMethodAvailable(CrcMethod method) {
  switch (method) {
    case CrcMethod::kClmul128:
      return ClmulCrcAvailable(ClmulWidth::k128);
    case CrcMethod::kClmul256:
      return ClmulCrcAvailable(ClmulWidth::k256);
    default:
      return true;
  }
}

uint32_t BlockCrcBy(CrcMethod method, const void* words, uint32_t count) {
  if (method == CrcMethod::kReference) return BlockCrcReference(words, count);
  if (count == 0) return 0xFFFFFFFF;
  const auto* bytes = static_cast<const uint8_t*>(words);
  const size_t covered = 4 * (static_cast<size_t>(count) - 1);
  uint32_t reg;
  switch (method) {
    case CrcMethod::kClmul128:
      reg = FoldedCrcUpdate(ClmulWidth::k128, 0xFFFFFFFF, bytes, covered);
      break;
    case CrcMethod::kClmul256:
      reg = FoldedCrcUpdate(ClmulWidth::k256, 0xFFFFFFFF, bytes, covered);
      break;
    default:
      reg = SlicedCrcUpdate(0xFFFFFFFF, bytes, covered);
      break;
  }
  // Reversed together, the complemented register and the last word read
  // little-endian are the CRC XOR the last word read big-endian.
  return ReverseBytes(~reg ^ LoadLittleEndian32(bytes + covered));
}

uint32_t BlockCrc(const void* words, uint32_t count) {
  return BlockCrcBy(g_method, words, count);
}

CrcMethod BlockCrcMethod() { return g_method; }

const char* CrcMethodName(CrcMethod method) {
  switch (method) {
    case CrcMethod::kReference:
      return "reference";
    case CrcMethod::kSlicingBy8:
      return "slicing-by-8";
    case CrcMethod::kClmul128:
      return "carry-less multiply 128";
    case CrcMethod::kClmul256:
      return "carry-less multiply 256";
  }
  return "?";
}

// BlockHeader: the header both embedded blocks carry. Every multi-byte field
// is big-endian and is decoded here before anyone compares or prints it.
//
//   0x00 magic (2, 0xC0DE)      0x30 headerLength (2)
//   0x02 blockType (2)          0x32 headerVersionX (1)
//   0x04 startAddress (4)       0x33 headerVersionY (1)
//   0x08 endAddress (4)         0x34 ... the block type's own fields
//   0x0C blockTime (4)
//   0x10 targetName (32, NUL-ended text)
//
// Code block (blockType 1), 92 bytes:     Profile block (blockType 3), 64:
//   0x34 programTime (4)                  0x34 codeBranch (2)
//   0x38 four addresses (16)              0x36 codeVersion (2)
//   0x48 a 16-bit value                   0x38 maxCodeRevision (2)
//   0x4A codeBranch (2)                   0x3A minCodeRevision (2)
//   0x4C codeVersion (2)                  0x3C two 16-bit values
//   0x4E codeRevision (2)
//   0x50 minBootBranch (2)
//   0x52 minBootVersion (2)
//   0x54 reserved (8)
#ifndef ECUPROG_BLOCKS_BLOCK_HEADER_H
#define ECUPROG_BLOCKS_BLOCK_HEADER_H

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint16_t kBlockMagic = 0xC0DE;
constexpr uint16_t kCodeBlockType = 1;
constexpr uint16_t kProfileBlockType = 3;
constexpr size_t kTargetNameSize = 32;
constexpr size_t kCodeHeaderOffset = 256;  // in the inflated code image
constexpr size_t kCodeHeaderLength = 92;
constexpr size_t kProfileHeaderLength = 64;
constexpr size_t kProgramTimeOffset = 0x34;  // within the code header

/// A read-only view of a header in a block held elsewhere.
class BlockHeader {
 public:
  explicit BlockHeader(const uint8_t* bytes) : bytes_(bytes) {}

  uint16_t magic() const { return U16(0x00); }
  uint16_t blockType() const { return U16(0x02); }
  uint32_t startAddress() const { return U32(0x04); }
  uint32_t endAddress() const { return U32(0x08); }
  uint32_t blockTime() const { return U32(0x0C); }
  /// The target name up to its NUL, never past the 32-byte field.
  std::string targetName() const;
  uint16_t headerLength() const { return U16(0x30); }
  uint8_t headerVersionX() const { return bytes_[0x32]; }
  uint8_t headerVersionY() const { return bytes_[0x33]; }

  // Code block fields.
  uint32_t programTime() const { return U32(0x34); }
  uint16_t codeBranch() const { return U16(0x4A); }
  uint16_t codeVersion() const { return U16(0x4C); }
  uint16_t codeRevision() const { return U16(0x4E); }
  uint16_t minBootBranch() const { return U16(0x50); }
  uint16_t minBootVersion() const { return U16(0x52); }

  // Profile block fields.
  uint16_t profileCodeBranch() const { return U16(0x34); }
  uint16_t profileCodeVersion() const { return U16(0x36); }
  uint16_t maxCodeRevision() const { return U16(0x38); }
  uint16_t minCodeRevision() const { return U16(0x3A); }

  const uint8_t* bytes() const { return bytes_; }

 private:
  uint16_t U16(size_t offset) const {
    return static_cast<uint16_t>(bytes_[offset] << 8 | bytes_[offset + 1]);
  }
  uint32_t U32(size_t offset) const {
    return static_cast<uint32_t>(bytes_[offset]) << 24 |
           static_cast<uint32_t>(bytes_[offset + 1]) << 16 |
           static_cast<uint32_t>(bytes_[offset + 2]) << 8 |
           static_cast<uint32_t>(bytes_[offset + 3]);
  }

  const uint8_t* bytes_;
};

/// Stores a 32-bit value most significant byte first.
void StoreBigEndian32(uint8_t* at, uint32_t value);

#endif  // ECUPROG_BLOCKS_BLOCK_HEADER_H

// Crafting firmware blocks for tests: start from a valid block, damage one
// thing, repair the checksum so that only that thing is wrong, and hand the
// result to the loaders through the program's resource table.
#ifndef ECUPROG_TESTS_BLOCKS_BLOCK_BUILDER_H
#define ECUPROG_TESTS_BLOCKS_BLOCK_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/resource_table.h"

using Block = std::vector<uint8_t>;

/// Plain byte-at-a-time CRC-32/BZIP2, independent of BlockCrc.
uint32_t ReferenceCrc(const uint8_t* bytes, size_t length);

/// A valid code image of `length` bytes whose header is the released one
/// (W3, release 1.463.1, header version 1.3, boot 1.38 or newer) with
/// `endAddress` for `length`. The rest is pseudo-random from `seed`.
Block ValidCodeImage(uint32_t length = 4096, uint32_t seed = 1);

/// A valid profile of `length` bytes for the code image above (W3, code
/// 1.463, revisions 1 to 1, header version 1.0).
Block ValidProfile(uint32_t length = 4096);

/// Big-endian loads from and stores into a block.
uint16_t GetU16(const Block& block, size_t offset);
uint32_t GetU32(const Block& block, size_t offset);
void SetU16(Block& block, size_t offset, uint16_t value);
void SetU32(Block& block, size_t offset, uint32_t value);
/// Writes the 32-byte target name field of the header at `header`: the
/// name, then zeros (no NUL when the name fills the field).
void SetTargetName(Block& block, size_t header, const std::string& name);

/// The same changes as edits a test can list in a table.
using Edit = std::function<void(Block&)>;
Edit SetByteAt(size_t offset, uint8_t value);
Edit SetU16At(size_t offset, uint16_t value);
Edit SetU32At(size_t offset, uint32_t value);
Edit SetTargetAt(size_t header, const std::string& name);

/// Stores the checksum of everything before the last whole word in that
/// word, so the block verifies whatever else was changed.
void FixChecksum(Block& block);

/// The block as one zlib stream; level 0 stores it without compression.
Block Deflate(const Block& data, int level = 6);

/// A valid code image of `imageLength` bytes whose zlib stream is exactly
/// `streamSize` bytes long (found by search; empty if none was found).
Block CodeStreamOfSize(uint32_t imageLength, size_t streamSize);

/// How one "IMAGE" resource looks to the resource calls.
struct ImageEntry {
  static ImageEntry Missing() { return ImageEntry{{}, true}; }
  static ImageEntry RefusingLoad(Block bytes) {
    return ImageEntry{std::move(bytes), false, true};
  }
  static ImageEntry WithoutPointer(Block bytes) {
    return ImageEntry{std::move(bytes), false, false, true};
  }

  Block bytes;
  bool missing = false;      // FindResourceA finds nothing
  bool refusesLoad = false;  // LoadResource fails
  bool noPointer = false;    // LockResource gives no pointer
};

/// Makes the resource calls of the tool's own module see the given entries
/// until destroyed.
class FirmwareResources {
 public:
  FirmwareResources() = default;
  FirmwareResources(const FirmwareResources&) = delete;
  FirmwareResources& operator=(const FirmwareResources&) = delete;
  ~FirmwareResources();

  void Put(int id, ImageEntry entry);

 private:
  std::list<Block> blocks_;
  EmbeddedResource table_[4] = {};
  size_t count_ = 0;
};

#endif  // ECUPROG_TESTS_BLOCKS_BLOCK_BUILDER_H

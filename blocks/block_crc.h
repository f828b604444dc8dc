// The block checksum: CRC-32/BZIP2 (polynomial 0x04C11DB7, initial value
// and final XOR 0xFFFFFFFF, not reflected), computed a little-endian 32-bit
// word at a time so that a block whose last word holds its own checksum
// (big-endian) sums to 0.
#ifndef ECUPROG_BLOCKS_BLOCK_CRC_H
#define ECUPROG_BLOCKS_BLOCK_CRC_H

#include <cstdint>

/// 256 entries: entry i is the MSB-first CRC-32 table entry for byte i with
/// its four bytes reversed. Written once by BuildCrcTable.
extern uint32_t CrcTable[256];

/// Fills CrcTable. Called once at start, before the first BlockCrc.
void BuildCrcTable();

/// The checksum of `count` words starting at `words` (any alignment):
/// CRC-32/BZIP2 of the first 4 * (count - 1) bytes XOR the last word read
/// big-endian. 0 means the block is intact; for a block whose last four
/// bytes are zero it is the value to store there. count 0 gives 0xFFFFFFFF.
uint32_t BlockCrc(const void* words, uint32_t count);

#endif  // ECUPROG_BLOCKS_BLOCK_CRC_H

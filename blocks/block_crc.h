// The block checksum: CRC-32/BZIP2 (polynomial 0x04C11DB7, initial value
// and final XOR 0xFFFFFFFF, not reflected), computed a little-endian 32-bit
// word at a time so that a block whose last word holds its own checksum
// (big-endian) sums to 0.
//
// BlockCrc is what the tool uses. Its methods give the same result for
// every input: the word-wise table method (the reference), slicing-by-8
// over eight tables, and carry-less-multiply folding (blocks/
// block_crc_clmul.h) for processors that have the instruction.
// BuildCrcTable picks the fastest one this processor can run.
#ifndef ECUPROG_BLOCKS_BLOCK_CRC_H
#define ECUPROG_BLOCKS_BLOCK_CRC_H

#include <cstdint>

/// 256 entries: entry i is the MSB-first CRC-32 table entry for byte i with
/// its four bytes reversed. Written once by BuildCrcTable.
extern uint32_t CrcTable[256];

/// Fills CrcTable and the tables of the faster methods, and chooses the
/// method BlockCrc uses. Called once at start, before the first
/// BlockCrc.
void BuildCrcTable();

/// The checksum of `count` words starting at `words` (any alignment):
/// CRC-32/BZIP2 of the first 4 * (count - 1) bytes XOR the last word read
/// big-endian. 0 means the block is intact; for a block whose last four
/// bytes are zero it is the value to store there. count 0 gives 0xFFFFFFFF.
uint32_t BlockCrc(const void* words, uint32_t count);

/// BlockCrc by the word-wise table method: four table steps per word. The
/// reference the faster methods are held to.
uint32_t BlockCrcReference(const void* words, uint32_t count);

/// The ways BlockCrc can be computed; all give the same result for every
/// input.
enum class CrcMethod {
  kReference,   ///< BlockCrcReference
  kSlicingBy8,  ///< eight bytes per step over eight tables
  kClmul128,    ///< carry-less multiply, 128-bit (PCLMULQDQ, SSE4.1)
  kClmul256,    ///< carry-less multiply, 256-bit (VPCLMULQDQ, AVX2)
};

/// Whether this processor and build can use `method`.
bool CrcMethodAvailable(CrcMethod method);

/// BlockCrc by `method`, which must be available. BuildCrcTable first.
uint32_t BlockCrcBy(CrcMethod method, const void* words, uint32_t count);

/// The method BlockCrc uses: the fastest available, chosen by BuildCrcTable.
CrcMethod BlockCrcMethod();

/// "reference", "slicing-by-8", "carry-less multiply 128" or "... 256".
const char* CrcMethodName(CrcMethod method);

#endif  // ECUPROG_BLOCKS_BLOCK_CRC_H

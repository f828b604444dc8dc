// The block checksum by carry-less multiplication (PCLMULQDQ): sixteen
// bytes enter per multiply pair instead of one table step per byte.
//
// The bytes are read as one polynomial over GF(2), the first byte's top bit
// the highest power, as the not-reflected CRC-32/BZIP2 reads them. Each
// 16-byte lane is byte-swapped into a 128-bit value A = H * x^64 + L
// (H, L 64 bits each). Moving A k bits further up, which is what each
// further k bits of message do to it, only matters modulo the polynomial P:
//
//   A * x^k  =  H * x^(k+64) + L * x^k  ==  H * (x^(k+64) mod P)
//                                         + L * (x^k mod P)      (mod P)
//
// and each product of a 64-bit half with a 32-bit remainder fits in 96
// bits, so the folded value stays within 128 bits. The remainders
// x^k mod P are worked out by the compiler (XPowModP: start from 1 and
// multiply by x k times, reducing by P whenever x^32 appears — the same
// shift-and-XOR step that fills CrcTable), for k = 128 (one lane onwards),
// k = 512 (four lanes) and k = 1024 (eight lanes). Several lanes run side by
// side through the bulk of the data, then fold into one, and the remaining
// 16-byte blocks fold into that. What comes out is a 128-bit value with the
// same remainder modulo P as the message; the CRC register for it is the
// table CRC of its sixteen bytes from a zero register.
//
// Two widths: four 128-bit lanes (PCLMULQDQ and SSE4.1), and four 256-bit
// registers of two lanes each (VPCLMULQDQ and AVX2), which does twice the
// work per instruction where the processor has it.
#ifndef ECUPROG_BLOCKS_BLOCK_CRC_CLMUL_H
#define ECUPROG_BLOCKS_BLOCK_CRC_CLMUL_H

#include <cstddef>
#include <cstdint>

enum class ClmulWidth { k128, k256 };

/// True when this processor has the instructions of `width` and this build
/// carries the code for them (x86 only).
bool ClmulCrcAvailable(ClmulWidth width);

/// Folds `length` bytes (at least 64, a multiple of 16, any alignment),
/// with the CRC register `reg` (bytes reversed, as in CrcTable) XORed into
/// their first four, into the 16 bytes `folded`: a message congruent to
/// them modulo the polynomial, so that the table CRC of `folded` from a
/// zero register is the register after the `length` bytes. Only when
/// ClmulCrcAvailable(width).
void ClmulCrcFold(ClmulWidth width, uint32_t reg, const uint8_t* bytes,
                  size_t length, uint8_t folded[16]);

#endif  // ECUPROG_BLOCKS_BLOCK_CRC_CLMUL_H

// Restamping: the code image records when it was programmed and gets a
// fresh checksum just before it is written to the unit.
#ifndef ECUPROG_BLOCKS_RESTAMP_H
#define ECUPROG_BLOCKS_RESTAMP_H

#include <cstdint>

/// Writes the current time into programTime (image bytes 308 to 311) and a
/// new checksum into the last four bytes, then verifies the image; stops
/// the run with "CRC REGENERATION FAILED" when it does not verify.
void RestampCodeImage(uint8_t* image, uint32_t length);

/// RestampCodeImage with a given programTime instead of the clock's.
void RestampCodeImageAt(uint8_t* image, uint32_t length, uint32_t programTime);

#endif  // ECUPROG_BLOCKS_RESTAMP_H

#include "blocks/restamp.h"

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "platform/system_clock.h"
#include "report/stop_run.h"

void RestampCodeImageAt(uint8_t* image, uint32_t length, uint32_t programTime) {
  // The time goes in first so that the new checksum covers it.
  StoreBigEndian32(image + kCodeHeaderOffset + kProgramTimeOffset, programTime);
  uint8_t* checksum = image + length - 4;
  StoreBigEndian32(checksum, 0);
  StoreBigEndian32(checksum, BlockCrc(image, length / 4));
  // Only whole words are covered: when the length is not a multiple of four
  // the checksum lands partly outside them and the image does not verify.
  if (BlockCrc(image, length / 4) != 0) StopRun(1, "CRC REGENERATION FAILED");
}

void RestampCodeImage(uint8_t* image, uint32_t length) {
  RestampCodeImageAt(image, length, SystemClockSeconds32());
}

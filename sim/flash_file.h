// A unit's flash region held in a file of the bench folder: byte k of the
// file is the unit's byte at address base + k. Erased flash reads 0xFF.
// Every change goes to the file at once, so a server that ends in the
// middle of a step leaves the flash as far as it got.
#ifndef ECUPROG_SIM_FLASH_FILE_H
#define ECUPROG_SIM_FLASH_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "sim/bench.h"

/// The code flash file covers unit addresses 0x10000 to 0x7FFFF, room for
/// a code image of up to 448 KiB; the store flash file 0 to 0x3FFFF.
constexpr uint32_t kCodeFlashBase = 0x00010000;
constexpr uint32_t kCodeFlashSize = 0x00070000;
constexpr uint32_t kStoreFlashBase = 0;
constexpr uint32_t kStoreFlashSize = 0x00040000;
/// Erases work on whole sectors, as on the real part.
constexpr uint32_t kFlashSectorSize = 0x1000;
constexpr uint8_t kErasedByte = 0xFF;

class FlashFile {
 public:
  /// The region's flash in `path`.
  FlashFile(std::string path, SimRegion region);

  const std::string& path() const { return path_; }
  uint32_t base() const { return base_; }
  uint32_t size() const { return size_; }

  /// Creates the file erased when it is missing, whole or not at all;
  /// throws BenchError, naming the file and what it should hold, when it
  /// cannot be made or has another size.
  void Prepare() const;

  /// Why the file cannot be opened for writing, naming it: a read-only
  /// file, say. Empty when it can. Asked before a unit is given to a job,
  /// so that a flash the job could not write is refused before anything
  /// is erased, not taken for a faulty unit halfway through.
  std::string WriteProblem() const;

  /// Whether [start, start + length) lies inside the region (no overflow).
  bool Contains(uint32_t start, uint32_t length) const;

  /// The whole region. Empty when the file cannot be read.
  std::vector<uint8_t> ReadAll() const;
  /// Whether every byte of the range reads 0xFF; false when unreadable.
  bool IsErased(uint32_t start, uint32_t length) const;
  /// Sets the range to `value`. False when the file cannot be written.
  bool Fill(uint32_t start, uint32_t length, uint8_t value) const;
  /// Writes `length` bytes at `start`. False when the file cannot be
  /// written.
  bool Write(uint32_t start, const uint8_t* data, uint32_t length) const;

  /// The range widened to whole sectors and kept inside the region.
  void SectorRange(uint32_t start, uint32_t length, uint32_t* sectorStart,
                   uint32_t* sectorLength) const;

 private:
  bool ReadRange(uint32_t start, uint32_t length,
                 std::vector<uint8_t>* bytes) const;
  void Create() const;
  /// "a code flash file holds 458752 bytes", for messages.
  std::string WhatItHolds() const;

  std::string path_;
  uint32_t base_;
  uint32_t size_;
};

#endif  // ECUPROG_SIM_FLASH_FILE_H

// Writes DeviceRecords the way the server sends them: host order
// (little-endian) fields, 8-bit texts, reserved bytes zero.
#ifndef ECUPROG_SIM_RECORD_WRITER_H
#define ECUPROG_SIM_RECORD_WRITER_H

#include <cstdint>
#include <string>

#include "server/device_record.h"
#include "sim/bench.h"

/// Stores a 16-bit value little-endian at `offset`.
void PutU16(DeviceRecord& record, size_t offset, uint16_t value);
/// Stores a 32-bit value little-endian at `offset`.
void PutU32(DeviceRecord& record, size_t offset, uint32_t value);
/// Copies `text` into the field of `size` bytes at `offset` and clears the
/// rest of it; a text of exactly `size` bytes leaves no NUL in the field.
/// Longer texts are cut at `size`.
void PutText(DeviceRecord& record, size_t offset, size_t size,
             const std::string& text);

/// What the unit shows about itself at detection; for a unit with
/// simulated flash it comes from the flash, otherwise from the bench.
struct UnitCondition {
  uint16_t unitState = 0;
  uint16_t codeBranch = 0;
  uint16_t codeVersion = 0;
  uint16_t codeRevision = 0;
  /// The unit's flash boots the code whose release this is.
  bool codeBoots = false;
};

/// The record DetectDevices shows for `unit` in `condition`: its raw record
/// when it has one (with simulated flash, its state and, while its code
/// boots, its code release taken from `condition`), otherwise one built
/// from its fields.
DeviceRecord MakeDeviceRecord(const SimUnit& unit,
                              const UnitCondition& condition);

#endif  // ECUPROG_SIM_RECORD_WRITER_H

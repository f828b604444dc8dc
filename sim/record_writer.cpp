#include "sim/record_writer.h"

#include <algorithm>

namespace dr = device_record;

void PutU16(DeviceRecord& record, size_t offset, uint16_t value) {
  record.bytes[offset] = static_cast<uint8_t>(value);
  record.bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(DeviceRecord& record, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) {
    record.bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

void PutText(DeviceRecord& record, size_t offset, size_t size,
             const std::string& text) {
  std::fill(record.bytes + offset, record.bytes + offset + size, 0);
  std::copy_n(text.begin(), std::min(text.size(), size), record.bytes + offset);
}

DeviceRecord MakeDeviceRecord(const SimUnit& unit,
                              const UnitCondition& condition) {
  DeviceRecord record{};
  if (unit.rawRecord) {
    std::copy_n(unit.rawRecord->begin(), kDeviceRecordSize, record.bytes);
    // A unit whose flash is simulated shows what its flash holds now, as
    // after every reset; a unit waiting in its boot code leaves the release
    // bytes as they are, which no listing shows in that state.
    if (unit.flashSimulated()) {
      PutU16(record, dr::kUnitState, condition.unitState);
      if (condition.codeBoots) {
        PutU16(record, dr::kUnitCodeBranch, condition.codeBranch);
        PutU16(record, dr::kUnitCodeVersion, condition.codeVersion);
        PutU16(record, dr::kUnitCodeRevision, condition.codeRevision);
      }
    }
    return record;
  }
  PutU32(record, dr::kUnitAddressA, unit.unitAddressA);
  PutU32(record, dr::kUnitAddressB, unit.unitAddressB);
  PutU16(record, dr::kUnitAddressC, unit.unitAddressC);
  PutU32(record, dr::kGroupKey, unit.groupKey);
  PutText(record, dr::kModelName, dr::kModelNameSize, unit.modelName);
  PutU16(record, dr::kBootBranch, unit.bootBranch);
  PutU16(record, dr::kBootVersion, unit.bootVersion);
  PutU16(record, dr::kUnitState, condition.unitState);
  PutU32(record, dr::kSerialNumber, static_cast<uint32_t>(unit.serialNumber));
  PutU16(record, dr::kUnitKeyA, unit.unitKeyA);
  PutU16(record, dr::kUnitKeyB, unit.unitKeyB);
  PutU16(record, dr::kUnitCodeBranch, condition.codeBranch);
  PutU16(record, dr::kUnitCodeVersion, condition.codeVersion);
  PutU16(record, dr::kUnitCodeRevision, condition.codeRevision);
  PutText(record, dr::kUnitLabel, dr::kUnitLabelSize, unit.unitLabel);
  return record;
}

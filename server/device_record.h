// DeviceRecord: how the server describes one attached unit.
//
// 1256 bytes, every multi-byte field in host order (little-endian), texts
// 8-bit and NUL-ended. Reserved bytes travel along in every copy.
//
//    0  unitAddressA   u32      88  serialNumber   i32
//    4  unitAddressB   u32      92  unitKeyA       u16
//    8  unitAddressC   u16      94  unitKeyB       u16
//   10  reserved       2        96  reserved       64
//   12  groupKey       u32     160  unitCodeBranch u16
//   16  modelName      32      162  unitCodeVersion u16
//   48  bootBranch     u16     164  unitCodeRevision u16
//   50  bootVersion    u16     166  reserved       2
//   52  reserved       32      168  unitLabel      up to 1088, NUL within
//   84  unitState      u16
//   86  reserved       2
#ifndef ECUPROG_SERVER_DEVICE_RECORD_H
#define ECUPROG_SERVER_DEVICE_RECORD_H

#include <cstdint>
#include <cstring>
#include <string>

constexpr size_t kDeviceRecordSize = 1256;

namespace device_record {
constexpr size_t kUnitAddressA = 0;
constexpr size_t kUnitAddressB = 4;
constexpr size_t kUnitAddressC = 8;
constexpr size_t kGroupKey = 12;
constexpr size_t kModelName = 16;
constexpr size_t kModelNameSize = 32;
constexpr size_t kBootBranch = 48;
constexpr size_t kBootVersion = 50;
constexpr size_t kUnitState = 84;
constexpr size_t kSerialNumber = 88;
constexpr size_t kUnitKeyA = 92;
constexpr size_t kUnitKeyB = 94;
constexpr size_t kUnitCodeBranch = 160;
constexpr size_t kUnitCodeVersion = 162;
constexpr size_t kUnitCodeRevision = 164;
constexpr size_t kUnitLabel = 168;
constexpr size_t kUnitLabelSize = kDeviceRecordSize - kUnitLabel;
}  // namespace device_record

/// unitState thresholds, as the tool lists a unit: the higher the state,
/// the more of the record means something and the further the unit is
/// ready.
namespace unit_state {
constexpr uint16_t kSerialShownAbove = 700;
constexpr uint16_t kLabelShownAbove = 800;
constexpr uint16_t kBootShownAbove = 100;
constexpr uint16_t kReadyFrom = 1000;  // may be chosen, given the model
constexpr uint16_t kCodeShownAbove = 1000;
}  // namespace unit_state

/// One record, by value. Fields are read from the bytes on each access, so
/// the record stays exactly what the server sent.
struct DeviceRecord {
  uint8_t bytes[kDeviceRecordSize];

  uint32_t unitAddressA() const { return U32(device_record::kUnitAddressA); }
  uint32_t unitAddressB() const { return U32(device_record::kUnitAddressB); }
  uint16_t unitAddressC() const { return U16(device_record::kUnitAddressC); }
  uint32_t groupKey() const { return U32(device_record::kGroupKey); }
  /// The model name up to its NUL, never past its 32-byte field.
  std::string modelName() const {
    return Text(device_record::kModelName, device_record::kModelNameSize);
  }
  uint16_t bootBranch() const { return U16(device_record::kBootBranch); }
  uint16_t bootVersion() const { return U16(device_record::kBootVersion); }
  uint16_t unitState() const { return U16(device_record::kUnitState); }
  int32_t serialNumber() const {
    return static_cast<int32_t>(U32(device_record::kSerialNumber));
  }
  uint16_t unitKeyA() const { return U16(device_record::kUnitKeyA); }
  uint16_t unitKeyB() const { return U16(device_record::kUnitKeyB); }
  uint16_t unitCodeBranch() const {
    return U16(device_record::kUnitCodeBranch);
  }
  uint16_t unitCodeVersion() const {
    return U16(device_record::kUnitCodeVersion);
  }
  uint16_t unitCodeRevision() const {
    return U16(device_record::kUnitCodeRevision);
  }
  /// The label up to its NUL, never past the end of the record.
  std::string unitLabel() const {
    return Text(device_record::kUnitLabel, device_record::kUnitLabelSize);
  }

  // Little-endian whatever the host, as the server writes them.
  uint16_t U16(size_t offset) const {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
  }
  uint32_t U32(size_t offset) const {
    return static_cast<uint32_t>(bytes[offset]) |
           static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
  }
  std::string Text(size_t offset, size_t size) const {
    const char* start = reinterpret_cast<const char*>(bytes + offset);
    const void* nul = std::memchr(start, 0, size);
    return std::string(start,
                       nul ? static_cast<const char*>(nul) - start : size);
  }
};
static_assert(sizeof(DeviceRecord) == kDeviceRecordSize, "record size");

#endif  // ECUPROG_SERVER_DEVICE_RECORD_H

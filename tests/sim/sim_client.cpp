#include "tests/sim/sim_client.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sim/sim_arrays.h"

Received TakeArray(SAFEARRAY* array) {
  Received received;
  if (array == nullptr) return received;
  received.present = true;
  SafeArrayGetVartype(array, &received.type);
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  received.count = static_cast<int64_t>(upper) - lower + 1;
  const size_t size =
      static_cast<size_t>(received.count) * SimElementSize(received.type);
  SafeArrayLock(array);
  const uint8_t* data = static_cast<const uint8_t*>(array->pvData);
  received.bytes.assign(data, data + size);
  SafeArrayUnlock(array);
  SafeArrayDestroy(array);
  return received;
}

SAFEARRAY* ByteArray(const std::vector<uint8_t>& bytes) {
  return MakeSimArray(VT_UI1, static_cast<ULONG>(bytes.size()), bytes);
}

std::vector<DeviceRecord> Detect(ProgrammingServer* root) {
  SAFEARRAY* array = nullptr;
  if (FAILED(root->DetectDevices(&array))) return {};
  const Received received = TakeArray(array);
  std::vector<DeviceRecord> records(received.bytes.size() / kDeviceRecordSize);
  for (size_t i = 0; i < records.size(); ++i) {
    std::memcpy(records[i].bytes, received.bytes.data() + i * kDeviceRecordSize,
                kDeviceRecordSize);
  }
  return records;
}

Ref<DeviceInterface> OpenUnit(ProgrammingServer* root,
                              const DeviceRecord& record) {
  UnitAddressTail tail;
  std::memcpy(&tail, record.bytes + device_record::kUnitAddressB, sizeof tail);
  DeviceInterface* device = nullptr;
  root->OpenDevice(record.unitAddressA(), tail, &device);
  return Ref<DeviceInterface>(device);
}

Ref<ProgrammingInterface> Programmer(DeviceInterface* device,
                                     const DeviceRecord& record,
                                     SimRegion region, USHORT identityId) {
  ProgrammingInterface* programmer = nullptr;
  if (region == SimRegion::kCode) {
    device->GetCodeProgrammer(record.unitKeyA(), identityId, &programmer);
  } else {
    device->GetStoreProgrammer(record.unitKeyA(), identityId, &programmer);
  }
  return Ref<ProgrammingInterface>(programmer);
}

USHORT AcquireGroup(ProgrammingInterface* programmer, ULONG groupKey) {
  GUID group{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  GroupTicket ticket{};
  USHORT status = 0xFFFF;
  EXPECT_EQ(programmer->AcquireGroup(groupKey, group, &ticket, &status), S_OK);
  return status;
}

DeviceRecord RecordOf(ProgrammingServer* root, const SimState& state,
                      const std::string& unit) {
  const std::vector<DeviceRecord> records = Detect(root);
  for (size_t i = 0; i < state.unitCount() && i < records.size(); ++i) {
    if (state.unit(i).name == unit) return records[i];
  }
  return DeviceRecord{};
}

std::string TakeText(BSTR text) {
  if (text == nullptr) return "(null)";
  std::string utf8;
  const UINT length = SysStringLen(text);
  for (UINT i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length) {
      c = 0x10000 + ((c - 0xD800) << 10) +
          (static_cast<uint16_t>(text[++i]) - 0xDC00);
    }
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | c >> 6);
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += static_cast<char>(0xE0 | c >> 12);
      utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | c >> 18);
      utf8 += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  SysFreeString(text);
  return utf8;
}

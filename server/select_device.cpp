#include "server/select_device.h"

#include <cstring>
#include <vector>

#include "report/console.h"
#include "report/stop_run.h"
#include "server/array_response.h"
#include "server/com_ref.h"

namespace {

// Writes the unit's line; true when the unit may take this code image.
bool ListUnit(const DeviceRecord& unit, const std::string& targetName) {
  uint16_t state = unit.unitState();
  Print("Found : %s", unit.modelName().c_str());
  if (state > unit_state::kSerialShownAbove) {
    Print("#%04d", unit.serialNumber());
  } else {
    Print(" (NO SERIAL NUMBER)");
  }
  if (state > unit_state::kLabelShownAbove)
    Print(" (%s)", unit.unitLabel().c_str());
  if (state > unit_state::kBootShownAbove) {
    Print(" BootV%d.%d", unit.bootBranch(), unit.bootVersion());
  } else {
    Print(" (BAD BOOT CODE)");
  }
  bool candidate = false;
  if (state < unit_state::kReadyFrom) {
    Print(" NOT READY FOR CODE PROGRAMMING");
  } else {
    candidate = unit.modelName() == targetName;
  }
  if (state > unit_state::kCodeShownAbove) {
    Print(" CodeV%d.%d.%d", unit.unitCodeBranch(), unit.unitCodeVersion(),
          unit.unitCodeRevision());
  }
  PrintLine("");
  return candidate;
}

}  // namespace

DeviceRecord SelectDevice(ProgrammingServer* server,
                          const std::string& targetName) {
  SafeArrayRef detected;
  CheckServerResult(server->DetectDevices(detected.Out()));

  size_t bytes = 0;
  if (!TakeOverArray(detected, VT_UI1, &bytes) ||
      bytes % kDeviceRecordSize != 0) {
    StopRun(1, "DEVICE DETECT RESPONSE INVALID");
  }
  size_t units = bytes / kDeviceRecordSize;
  if (units == 0) StopRun(1, "NO DEVICES FOUND");

  const auto* records = static_cast<const uint8_t*>(detected.data());
  std::vector<DeviceRecord> candidates;
  for (size_t i = 0; i < units; ++i) {
    DeviceRecord unit;
    std::memcpy(unit.bytes, records + i * kDeviceRecordSize, kDeviceRecordSize);
    if (ListUnit(unit, targetName)) candidates.push_back(unit);
  }
  if (candidates.empty()) StopRun(1, "NO DEVICES AVAILABLE TO PROGRAM");

  Print("Please enter the serial number of the device you wish to program : ");
  FlushOutput();
  // An answer that is no number (or the end of input) matches no unit.
  int32_t serial = 0;
  bool answered = ReadDecimal(&serial);

  // From the last towards the first: of two units with the same serial
  // number, the one listed later is chosen.
  for (auto it = candidates.rbegin(); answered && it != candidates.rend();
       ++it) {
    if (it->serialNumber() == serial) return *it;
  }
  StopRun(1, "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND");
}

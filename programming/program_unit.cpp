#include "programming/program_unit.h"

#include "report/console.h"
#include "report/stop_run.h"

namespace {

constexpr ULONG kCodeRegionStart = 0x10000;
constexpr ULONG kStoreRegionStart = 0;

}  // namespace

void RequestReset(ProgrammingInterface* store) {
  Print("Reset request ... ");
  FlushOutput();
  USHORT status = 0xFFFF;
  CheckServerResult(store->ResetDevice(&status));
  if (status != kStatusDone) StopRun(1, "RESET REJECTED");
  PrintLine("accepted");
}

void ProgramUnit(UnitInterfaces* interfaces, const DeviceRecord& unit,
                 const uint8_t* image, uint32_t imageLength,
                 const uint8_t* profile, uint32_t profileLength,
                 const ErasePolling& polling) {
  LARGE_INTEGER frequency;
  if (!QueryPerformanceFrequency(&frequency)) frequency.QuadPart = 0;

  FlashRegion code = {interfaces->code.get(),
                      kCodeRegionStart,
                      imageLength,
                      image,
                      "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE",
                      "Code flash erase ... ",
                      "CODE FLASH ERASE FAILED",
                      "CODE FLASH ERASE TIMED OUT",
                      "Code flash program ... ",
                      "CODE FLASH PROGRAM FAILED",
                      "COULD NOT CREATE CODE FLASH TRANSFER ARRAY"};
  ProgramFlashRegion(code, unit.groupKey(), frequency.QuadPart, polling);
  interfaces->code.Reset();

  FlashRegion store = {interfaces->store.get(),
                       kStoreRegionStart,
                       profileLength,
                       profile,
                       "COULD NOT ACQUIRE STORE PROGRAMMING GROUP AT DEVICE",
                       "Store flash erase ... ",
                       "STORE FLASH ERASE FAILED",
                       "STORE FLASH ERASE TIMED OUT",
                       "Store flash program ... ",
                       "STORE FLASH PROGRAM FAILED",
                       "COULD NOT CREATE STORE FLASH TRANSFER ARRAY"};
  ProgramFlashRegion(store, unit.groupKey(), frequency.QuadPart, polling);

  RequestReset(interfaces->store.get());
}

#include "programming/flash_region.h"

#include <cstring>

#include "report/console.h"
#include "report/stop_run.h"
#include "server/com_ref.h"

namespace {

// Every status starts as a refusal, so that a server that reports success
// without writing one can never pass for done.
constexpr USHORT kUnsetStatus = 0xFFFF;

LONGLONG Now() {
  LARGE_INTEGER count;
  count.QuadPart = 0;
  QueryPerformanceCounter(&count);
  return count.QuadPart;
}

// Sleep's resolution at one millisecond while it lasts. Windows' default
// timer tick (15.6 ms) would stretch every pause to a whole tick, and the
// end of an erase would be noticed up to a tick late.
class FineTimer {
 public:
  FineTimer() : granted_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
  ~FineTimer() {
    if (granted_) timeEndPeriod(1);
  }
  FineTimer(const FineTimer&) = delete;
  FineTimer& operator=(const FineTimer&) = delete;

 private:
  bool granted_;
};

// The milliseconds since `start`: by the performance counter, so that
// slow polls count with their whole length; without a counter, the pauses
// alone.
double MillisecondsSince(LONGLONG start, LONGLONG frequency, DWORD paused) {
  if (frequency == 0) return paused;
  return static_cast<double>(Now() - start) * 1000.0 /
         static_cast<double>(frequency);
}

// Polls a running erase until it is no longer busy, and gives up when the
// erase has run for the limit since `start`. The pause between polls grows
// so that a long erase does not keep the server and a core busy, and stays
// short enough that the end is noticed within a few milliseconds.
void WaitForErase(const FlashRegion& region, const ErasePolling& polling,
                  LONGLONG start, LONGLONG frequency, USHORT* status) {
  FineTimer fineTimer;
  DWORD pause = polling.firstPauseMs;
  DWORD paused = 0;
  do {
    if (MillisecondsSince(start, frequency, paused) >= polling.giveUpAfterMs) {
      StopRun(1, region.eraseTimedOut);
    }
    Sleep(pause);
    paused += pause;
    if (pause < polling.longestPauseMs) ++pause;
    *status = kUnsetStatus;
    CheckServerResult(region.programmer->PollErase(status));
  } while (*status == kStatusBusy);
}

void Erase(const FlashRegion& region, LONGLONG frequency,
           const ErasePolling& polling) {
  Print("%s", region.erasePrefix);
  FlushOutput();
  LONGLONG start = Now();
  USHORT status = kUnsetStatus;
  CheckServerResult(region.programmer->StartErase(region.startAddress,
                                                  region.length, &status));
  if (status == kStatusDone) {
    PrintLine("already blank");
    return;
  }
  if (status != kStatusBusy) StopRun(1, region.eraseFailure);
  Print("erasing ... ");
  FlushOutput();
  WaitForErase(region, polling, start, frequency, &status);
  if (status != kStatusDone) StopRun(1, region.eraseFailure);
  ReportCompletion(start, Now(), frequency);
}

void Program(const FlashRegion& region, LONGLONG frequency) {
  Print("%s", region.programPrefix);
  FlushOutput();
  LONGLONG start = Now();
  SafeArrayRef transfer;
  if (!transfer.Create(VT_UI1, region.length) || !transfer.Lock()) {
    StopRun(1, region.transferFailure);
  }
  std::memcpy(transfer.data(), region.data, region.length);
  USHORT status = kUnsetStatus;
  CheckServerResult(region.programmer->ProgramRegion(
      region.startAddress, region.length, transfer.get(), &status));
  transfer.Reset();
  if (status != kStatusDone) StopRun(1, region.programFailure);
  ReportCompletion(start, Now(), frequency);
}

}  // namespace

void ReportCompletion(LONGLONG start, LONGLONG end, LONGLONG frequency) {
  if (frequency != 0) {
    Print("complete (%.3fsecs)\n",
          static_cast<double>(end - start) / static_cast<double>(frequency));
  } else {
    PrintLine("complete");
  }
}

void ProgramFlashRegion(const FlashRegion& region, ULONG groupKey,
                        LONGLONG frequency, const ErasePolling& polling) {
  // A fresh group identifier for each region; the generator's result does
  // not matter, any identifier will do.
  GUID groupId;
  std::memset(&groupId, 0, sizeof(groupId));
  UuidCreate(&groupId);
  GroupTicket ticket;
  USHORT status = kUnsetStatus;
  CheckServerResult(
      region.programmer->AcquireGroup(groupKey, groupId, &ticket, &status));
  if (status != kStatusDone) StopRun(1, region.groupFailure);

  Erase(region, frequency, polling);
  Program(region, frequency);
}

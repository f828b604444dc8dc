// Programming one flash region: group, erase, program, each step on its
// own progress line.
#ifndef ECUPROG_PROGRAMMING_FLASH_REGION_H
#define ECUPROG_PROGRAMMING_FLASH_REGION_H

#include <cstdint>

#include "server/server_interfaces.h"

/// One of the unit's two flash regions and the words the operator sees
/// for it.
struct FlashRegion {
  ProgrammingInterface* programmer;
  ULONG startAddress;
  ULONG length;
  const uint8_t* data;
  const char* groupFailure;
  const char* erasePrefix;
  const char* eraseFailure;
  const char* eraseTimedOut;
  const char* programPrefix;
  const char* programFailure;
  const char* transferFailure;
};

/// How the tool waits for an erase: it polls, pausing between polls for a
/// time that grows from the first to the longest pause, and gives up when
/// the erase has run for the limit by the performance counter (by the sum
/// of the pauses when there is no counter).
struct ErasePolling {
  DWORD firstPauseMs;
  DWORD longestPauseMs;
  DWORD giveUpAfterMs;
};
constexpr ErasePolling kErasePolling = {1, 4, 300000};

/// Acquires a group for the region, erases it (or finds it blank) and
/// programs it in one transfer. Any fault ends the run through StopRun.
void ProgramFlashRegion(const FlashRegion& region, ULONG groupKey,
                        LONGLONG frequency,
                        const ErasePolling& polling = kErasePolling);

/// Completes a timed progress line with the elapsed seconds, or with
/// "complete" alone when there is no timer (frequency 0).
void ReportCompletion(LONGLONG start, LONGLONG end, LONGLONG frequency);

#endif  // ECUPROG_PROGRAMMING_FLASH_REGION_H

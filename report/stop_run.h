// The end of every run: faults and success alike.
#ifndef ECUPROG_REPORT_STOP_RUN_H
#define ECUPROG_REPORT_STOP_RUN_H

#include "platform/windows_api.h"

/// Ends the run: uninitialises COM, writes the message and "Press space to
/// exit", waits for the space key and ends the process with the exit code
/// (0 after "PROGRAMMING SUCCESSFUL", 1 after a fault). References and
/// buffers still held are not released first.
[[noreturn]] void StopRun(int exitCode, const char* message);

/// Every server result code passes through here at once: a negative one
/// stops the run with "ERROR COMMUNICATING WITH SERVER".
void CheckServerResult(HRESULT result);

/// From here on an allocation that fails anywhere in the run stops it with
/// exit code 1 and "OUT OF MEMORY", instead of ending the process with an
/// unhandled exception.
void StopRunWhenMemoryRunsOut();

/// The last step of StopRun. The default ends the process; tests, tools and
/// fuzzers put in one that throws, so phases can run in-process. It must not
/// return.
using RunExit = void (*)(int exitCode, const char* message);
void SetRunExit(RunExit exit);

#endif  // ECUPROG_REPORT_STOP_RUN_H

// The run driver: one programming job, phase after phase.
#ifndef ECUPROG_DRIVER_RUN_H
#define ECUPROG_DRIVER_RUN_H

#include "programming/flash_region.h"

/// Runs the whole job. Arguments are ignored. Ends through StopRun: with
/// exit code 0 after "PROGRAMMING SUCCESSFUL", 1 after any fault. Tests
/// that run the job in process may wait for erases less long.
[[noreturn]] void RunProgrammingJob(
    int argc, char** argv, const ErasePolling& erasePolling = kErasePolling);

#endif  // ECUPROG_DRIVER_RUN_H

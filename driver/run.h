// The run driver: one programming job, phase after phase.
#ifndef ECUPROG_DRIVER_RUN_H
#define ECUPROG_DRIVER_RUN_H

/// Runs the whole job. Arguments are ignored. Ends through StopRun: with
/// exit code 0 after "PROGRAMMING SUCCESSFUL", 1 after any fault.
[[noreturn]] void RunProgrammingJob(int argc, char** argv);

#endif  // ECUPROG_DRIVER_RUN_H

// Runs the tool as an operator's job would run it, answer piped in, and
// reads the CPU time the tool's own process spent: the programming server
// it starts is a process of its own and is not counted.
#ifndef ECUPROG_BENCH_TOOL_PROCESS_H
#define ECUPROG_BENCH_TOOL_PROCESS_H

#include <functional>
#include <string>

struct ToolRun {
  int exitCode = -1;   // -1 when it did not exit normally
  std::string output;  // standard output, whole
  /// CPU time of the tool's process, user plus system, from its start
  /// (the spawn, loading and linking included) to its exit.
  double cpuSeconds = 0;
  double wallSeconds = 0;
};

/// CPU time the running process `pid` has spent so far (user plus system,
/// its single thread); 0 when it cannot be read.
double ProcessCpuSeconds(int pid);

/// Called with the tool's process id and all output so far, each time more
/// output arrives.
using OutputWatcher = std::function<void(int pid, const std::string& output)>;

/// Runs `tool` without a terminal (a new session), `input` as standard
/// input, until it exits.
ToolRun RunTool(const std::string& tool, const std::string& input,
                const OutputWatcher& watcher = nullptr);

#endif  // ECUPROG_BENCH_TOOL_PROCESS_H

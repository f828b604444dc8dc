// Whole jobs: the tool itself, started as a process and answered through a
// pipe, against the simulator started by it as its programming server.
#include "bench/job_bench.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_failure.h"
#include "bench/floor.h"
#include "bench/poll_bench.h"
#include "bench/tool_process.h"
#include "platform/com_registration.h"
#include "server/server_interfaces.h"
#include "sim/bench_json.h"
#include "sim/default_bench.h"

namespace {

const std::string kAnswer = std::to_string(kDefaultReadySerial) + "\n";

// The tool of this build, or another one to compare it with.
std::string Tool() {
  const char* other = std::getenv("ECUPROG_BENCH_TOOL");
  return other != nullptr && *other != '\0' ? other : ECUPROG_TOOL_PATH;
}

// The default bench with no delays, but for an erase of `eraseMs` on the
// unit the job programs.
std::string MakeBench(const std::string& folder, uint32_t eraseMs) {
  SimBench bench = WriteDefaultBench(folder, BenchTiming::kInstant);
  for (SimUnit& unit : bench.units) {
    if (unit.name == kDefaultReadyUnit) unit.eraseMs = eraseMs;
  }
  SaveBench(bench);
  return folder;
}

bool Succeeded(benchmark::State& state, const ToolRun& run) {
  if (run.exitCode == 0 &&
      run.output.find("PROGRAMMING SUCCESSFUL") != std::string::npos) {
    return true;
  }
  std::fprintf(stderr, "the job failed (exit code %d):\n%s\n", run.exitCode,
               run.output.c_str());
  FailBenchmark(state, "the job failed");
  return false;
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2,
                   values.end());
  return values[values.size() / 2];
}

// A complete job against an instant unit. The time reported is the tool's
// own CPU time (user plus system, process start included); the simulator's
// is not in it.
void Job(benchmark::State& state, std::string bench) {
  setenv("ECUPROG_SIM_BENCH", bench.c_str(), 1);
  std::vector<double> cpu;
  std::vector<double> wall;
  for (auto _ : state) {
    ToolRun run = RunTool(Tool(), kAnswer);
    if (!Succeeded(state, run)) return;
    state.SetIterationTime(run.cpuSeconds);
    cpu.push_back(run.cpuSeconds);
    wall.push_back(run.wallSeconds);
  }
  ReportAgainstFloor(state, Median(cpu));
  state.counters["cpu_ms_min"] =
      *std::min_element(cpu.begin(), cpu.end()) * 1e3;
  state.counters["wall_ms"] = Median(wall) * 1e3;
}

// What the job's record costs a whole job: jobs with a record and jobs
// that can keep none (a file stands where the records folder would be)
// take turns, so that both see the same machine. The cost is the
// difference of the medians of their wall times (a record's writes wait
// for the disk, which CPU time would not show).
void RecordCost(benchmark::State& state, std::string bench,
                std::string workspace) {
  setenv("ECUPROG_SIM_BENCH", bench.c_str(), 1);
  const std::string kept = workspace + "/state";
  const std::string none = workspace + "/no-state";
  if (FILE* file = std::fopen(none.c_str(), "w")) std::fclose(file);
  std::vector<double> with;
  std::vector<double> without;
  for (auto _ : state) {
    for (bool record : {true, false}) {
      setenv("XDG_STATE_HOME", (record ? kept : none).c_str(), 1);
      ToolRun run = RunTool(Tool(), kAnswer);
      if (!Succeeded(state, run)) return;
      (record ? with : without).push_back(run.wallSeconds);
    }
    state.SetIterationTime(with.back());
  }
  state.counters["wall_ms_with_record"] = Median(with) * 1e3;
  state.counters["wall_ms_without"] = Median(without) * 1e3;
  state.counters["record_cost_ms"] = (Median(with) - Median(without)) * 1e3;
}

// For comparison, a program that is not the tool, from its spawn to its
// exit: /bin/true shows what starting any process costs here; the floor's
// work alone in a process of its own, linked as the tool is, what that
// work costs from a cold start.
void OtherProcess(benchmark::State& state, std::string program) {
  std::vector<double> cpu;
  for (auto _ : state) {
    ToolRun run = RunTool(program, "");
    if (run.exitCode != 0) {
      FailBenchmark(state, "the program failed");
      return;
    }
    state.SetIterationTime(run.cpuSeconds);
    cpu.push_back(run.cpuSeconds);
  }
  ReportAgainstFloor(state, Median(cpu));
}

// Watches a job's output for its erases: the tool's CPU time and the
// clock when an erase starts ("erasing ... " is on the screen) and when the
// next line's prefix shows that it has ended.
class EraseWatch {
 public:
  void operator()(int pid, const std::string& output) {
    for (;;) {
      const char* marker = erasing_ ? "flash program ... " : "erasing ... ";
      size_t at = output.find(marker, scanned_);
      if (at == std::string::npos) return;
      scanned_ = at + 1;
      const double cpu = ProcessCpuSeconds(pid);
      const auto now = std::chrono::steady_clock::now();
      if (erasing_) {
        cpuSeconds += cpu - cpuAtStart_;
        waits.push_back(
            std::chrono::duration<double>(now - startedAt_).count());
      }
      cpuAtStart_ = cpu;
      startedAt_ = now;
      erasing_ = !erasing_;
    }
  }
  double cpuSeconds = 0;
  std::vector<double> waits;  // seconds from erase start to erase end seen

 private:
  size_t scanned_ = 0;
  bool erasing_ = false;
  double cpuAtStart_ = 0;
  std::chrono::steady_clock::time_point startedAt_;
};

// The erase times the tool printed: from just before StartErase to just
// after the PollErase that saw the end.
std::vector<double> EraseSeconds(const std::string& output) {
  std::vector<double> seconds;
  const std::string marker = "erasing ... complete (";
  for (size_t at = output.find(marker); at != std::string::npos;
       at = output.find(marker, at + 1)) {
    seconds.push_back(std::atof(output.c_str() + at + marker.size()));
  }
  return seconds;
}

// A job whose two erases take `eraseMs` each: how much of a core the tool
// uses while it waits, and how late it notices that an erase has ended.
// "notice_ms_..." is the wait seen from outside (from "erasing" on the
// screen to the next prefix) less the erase; "printed_ms_max" the longest
// of the same from the times the tool printed, to the millisecond.
void EraseWait(benchmark::State& state, std::string bench, uint32_t eraseMs) {
  setenv("ECUPROG_SIM_BENCH", bench.c_str(), 1);
  const double erase = eraseMs / 1e3;
  double cpuWaiting = 0;
  double secondsWaiting = 0;
  std::vector<double> notices;
  double latestPrinted = 0;
  for (auto _ : state) {
    EraseWatch watch;
    ToolRun run = RunTool(Tool(), kAnswer, std::ref(watch));
    if (!Succeeded(state, run)) return;
    std::vector<double> printed = EraseSeconds(run.output);
    if (printed.size() != 2 || watch.waits.size() != 2) {
      FailBenchmark(state, "the job did not erase both regions");
      return;
    }
    for (double seconds : printed) {
      latestPrinted = std::max(latestPrinted, seconds - erase);
    }
    for (double seconds : watch.waits) {
      secondsWaiting += seconds;
      notices.push_back(seconds - erase);
    }
    cpuWaiting += watch.cpuSeconds;
    state.SetIterationTime(run.wallSeconds);
  }
  state.counters["erase_cpu_pct"] = 100 * cpuWaiting / secondsWaiting;
  state.counters["notice_ms_median"] = Median(notices) * 1e3;
  state.counters["notice_ms_max"] =
      *std::max_element(notices.begin(), notices.end()) * 1e3;
  state.counters["printed_ms_max"] = latestPrinted * 1e3;
}

}  // namespace

void RegisterJobBenchmarks(const std::string& workspace, bool quick) {
  const std::string registry = workspace + "/registry";
  setenv("ECUPROG_COM_REGISTRY", registry.c_str(), 1);
  // The jobs' records stay in the workspace.
  setenv("XDG_STATE_HOME", (workspace + "/state").c_str(), 1);
  const std::string command = std::string("\"") + ECUPROG_SIM_PATH + "\"";
  if (FAILED(RegisterLocalServer(CLSID_ProgrammingServer, command.c_str()))) {
    std::fprintf(stderr, "the simulator cannot be registered in %s\n",
                 registry.c_str());
    std::exit(1);
  }
  const uint32_t eraseMs = quick ? 200 : 2000;
  std::string instant = MakeBench(workspace + "/instant", 0);
  std::string erasing = MakeBench(workspace + "/erasing", eraseMs);

  benchmark::RegisterBenchmark("Job/instant unit", Job, instant)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(quick ? 1 : 41);
  benchmark::RegisterBenchmark("Job/instant unit, the record's cost",
                               RecordCost, instant, workspace)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(quick ? 1 : 41);
  benchmark::RegisterBenchmark("Job/process start (/bin/true)", OtherProcess,
                               std::string("/bin/true"))
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(quick ? 1 : 41);
  benchmark::RegisterBenchmark("Job/floor work alone, in a fresh process",
                               OtherProcess,
                               std::string(ECUPROG_FLOOR_PROCESS_PATH))
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(quick ? 1 : 41);
  benchmark::RegisterBenchmark(
      ("Job/erase wait (" + std::to_string(eraseMs) + " ms erases)").c_str(),
      EraseWait, erasing, eraseMs)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(quick ? 1 : 3);
  RegisterPollBenchmarks(instant, quick);
}

#include "sim/bench_location.h"

#include <filesystem>

#include "sim/bench_json.h"
#include "sim/default_bench.h"

std::string BenchFolder(const EnvironmentReader& variable) {
  const auto text = [&](const char* name) {
    const char* value = variable(name);
    return std::string(value ? value : "");
  };
  const std::string bench = text("ECUPROG_SIM_BENCH");
  if (!bench.empty()) return bench;
  std::string data = text("XDG_DATA_HOME");
  if (data.empty()) {
    const std::string home = text("HOME");
    if (home.empty()) {
      throw BenchError("no bench folder: set ECUPROG_SIM_BENCH or HOME");
    }
    data = home + "/.local/share";
  }
  return data + "/ecuprog/bench";
}

SimBench OpenBench(const std::string& folder) {
  std::error_code error;
  if (!std::filesystem::exists(folder + "/" + kBenchFileName, error)) {
    WriteDefaultBench(folder, BenchTiming::kRealistic);
  }
  return LoadBench(folder);
}

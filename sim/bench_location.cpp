#include "sim/bench_location.h"

#include <filesystem>

#include "sim/bench_files.h"
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
    // A Windows user has no HOME, but a folder for the programs' own data.
    const std::string local = text("LOCALAPPDATA");
    if (!home.empty()) {
      data = home + "/.local/share";
    } else if (!local.empty()) {
      data = local;
    } else {
      throw BenchError(
          "no bench folder: set ECUPROG_SIM_BENCH, HOME or LOCALAPPDATA");
    }
  }
  return data + "/ecuprog/bench";
}

SimBench OpenBench(const std::string& folder) {
  // Only where there is no bench at all: a bench.json that cannot be read
  // is refused below, never taken for a missing one and written over.
  if (IsMissingOrEmptyFolder(folder)) {
    BuildFolderInPlace(folder, [](const std::string& building) {
      WriteDefaultBench(building, BenchTiming::kRealistic);
    });
  }
  const std::string json = folder + "/" + kBenchFileName;
  std::error_code error;
  if (std::filesystem::symlink_status(json, error).type() ==
      std::filesystem::file_type::not_found) {
    throw BenchError(json +
                     ": missing, and the folder is not empty, so no default "
                     "bench is made in it");
  }
  return LoadBench(folder);
}

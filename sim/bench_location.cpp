#include "sim/bench_location.h"

#include <filesystem>

#include "sim/bench_files.h"
#include "sim/bench_json.h"
#include "sim/default_bench.h"

std::string BenchFolder(const EnvironmentReader& variable) {
  const auto text = [&](const char* name) {
    return variable(name).value_or("");
  };
  const std::string bench = text("ECUPROG_SIM_BENCH");
  if (!bench.empty()) {
    if (!PathOf(bench).is_absolute()) {
      // Never resolved against the server's own working folder: COM
      // starts it in the system folder, not where the variable was set.
      throw BenchError("ECUPROG_SIM_BENCH is \"" + bench +
                       "\", a relative path: it must give the bench "
                       "folder's full path");
    }
    return bench;
  }
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
  if (std::filesystem::symlink_status(PathOf(json), error).type() ==
      std::filesystem::file_type::not_found) {
    throw BenchError(json +
                     ": missing, and the folder is not empty, so no default "
                     "bench is made in it");
  }
  return LoadBench(folder);
}

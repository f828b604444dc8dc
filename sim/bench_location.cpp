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

namespace {

namespace fs = std::filesystem;

// What stands at `folder` when it is no folder a bench can be served from
// or made in, as the message to refuse it with; empty when it is one (a
// folder, or a link to a folder that is not empty). A link is followed to
// a bench, but nothing is made through one: a new folder would take the
// link's own place.
std::string NotABenchFolder(const std::string& given) {
  const std::string folder = WithoutTrailingSlashes(given);
  std::error_code error;
  const fs::file_type type = fs::symlink_status(PathOf(folder), error).type();
  if (type == fs::file_type::not_found || type == fs::file_type::directory) {
    return "";
  }
  if (type == fs::file_type::regular) {
    return folder + ": a file, not a folder; the bench is a folder holding " +
           kBenchFileName;
  }
  if (type == fs::file_type::fifo || type == fs::file_type::socket ||
      type == fs::file_type::block || type == fs::file_type::character) {
    return folder + ": not a folder (a pipe, a device or the like)";
  }
  // What else a system may show (a junction, say) is judged as before.
  if (type != fs::file_type::symlink) return "";
  const std::string target = TextOf(fs::read_symlink(PathOf(folder), error));
  const std::string link = folder + ": a symbolic link to \"" + target + "\"";
  const fs::file_type to = fs::status(PathOf(folder), error).type();
  if (to == fs::file_type::not_found) {
    return link +
           ", which is not there (a dangling link); no bench is made "
           "through a link";
  }
  if (to == fs::file_type::regular) {
    return link + ", a file, not a folder";
  }
  // One that cannot be looked into is judged as before.
  if (to == fs::file_type::none || to == fs::file_type::unknown) return "";
  if (to != fs::file_type::directory) return link + ", which is not a folder";
  if (IsMissingOrEmptyFolder(folder + "/.")) {
    return link +
           ", an empty folder; no default bench is made through a link: "
           "make it there with ecuprog-sim --make-bench, or name that "
           "folder itself";
  }
  return "";
}

}  // namespace

SimBench OpenBench(const std::string& folder) {
  const std::string notAFolder = NotABenchFolder(folder);
  if (!notAFolder.empty()) throw BenchError(notAFolder);
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
  SimBench bench = LoadBench(folder);
  // Only once the bench is known to be one: a folder that is not is left
  // as it is.
  RemoveOldFileTemporaries(folder);
  return bench;
}

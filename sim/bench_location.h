// Where the server executable finds its bench.
#ifndef ECUPROG_SIM_BENCH_LOCATION_H
#define ECUPROG_SIM_BENCH_LOCATION_H

#include <functional>
#include <optional>
#include <string>

#include "platform/system_text.h"
#include "sim/bench.h"

/// Reads an environment variable; nullopt when it is not set.
using EnvironmentReader =
    std::function<std::optional<std::string>(const char*)>;

/// $ECUPROG_SIM_BENCH when set and not empty, otherwise
/// ${XDG_DATA_HOME:-$HOME/.local/share}/ecuprog/bench, or on a system
/// without HOME %LOCALAPPDATA%/ecuprog/bench. Throws BenchError when
/// neither that variable nor HOME nor LOCALAPPDATA says where, and when
/// ECUPROG_SIM_BENCH is not a full path: the server runs in a folder the
/// user did not choose (COM starts it in the system folder), where a
/// relative path would name some other bench.
std::string BenchFolder(const EnvironmentReader& variable = EnvironmentText);

/// The bench in `folder`. Where no folder is, or an empty one (build
/// leftovers aside), the default bench (realistic timing) is built beside
/// it first and moved into place whole, or, where that cannot be done, an
/// empty folder is filled in place with bench.json last (BuildFolderInPlace),
/// so that first uses at once all find one whole bench. Throws BenchError,
/// naming the file, when a bench is there but cannot be read, and then
/// changes nothing.
SimBench OpenBench(const std::string& folder);

#endif  // ECUPROG_SIM_BENCH_LOCATION_H

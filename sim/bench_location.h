// Where the server executable finds its bench.
#ifndef ECUPROG_SIM_BENCH_LOCATION_H
#define ECUPROG_SIM_BENCH_LOCATION_H

#include <cstdlib>
#include <functional>
#include <string>

#include "sim/bench.h"

/// Reads an environment variable; nullptr when it is not set.
using EnvironmentReader = std::function<const char*(const char*)>;

/// $ECUPROG_SIM_BENCH when set and not empty, otherwise
/// ${XDG_DATA_HOME:-$HOME/.local/share}/ecuprog/bench. Throws BenchError
/// when neither that variable nor HOME says where.
std::string BenchFolder(const EnvironmentReader& variable = std::getenv);

/// The bench in `folder`. Where no folder is, or an empty one (build
/// leftovers aside), the default bench (realistic timing) is built beside
/// it first and moved into place whole, or, where that cannot be done, an
/// empty folder is filled in place with bench.json last (BuildFolderInPlace),
/// so that first uses at once all find one whole bench. Throws BenchError,
/// naming the file, when a bench is there but cannot be read, and then
/// changes nothing.
SimBench OpenBench(const std::string& folder);

#endif  // ECUPROG_SIM_BENCH_LOCATION_H

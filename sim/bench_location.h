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

/// The bench in `folder`; when the folder holds no bench.json yet, the
/// default bench is written there first (realistic timing).
SimBench OpenBench(const std::string& folder);

#endif  // ECUPROG_SIM_BENCH_LOCATION_H

// How a fuzzed server answers a call that returns an array: mostly with the
// array the input gives, sometimes with none, another element type, or a
// failure code.
#ifndef ECUPROG_FUZZ_ARRAY_FAULT_H
#define ECUPROG_FUZZ_ARRAY_FAULT_H

#include <fuzzer/FuzzedDataProvider.h>

#include "sim/bench.h"

/// The fault `operation` answers with. A kBadLength fault comes without a
/// value: the caller sets the array's length once it knows the array.
SimFault ArrayFault(FuzzedDataProvider& input, const char* operation);

#endif  // ECUPROG_FUZZ_ARRAY_FAULT_H

// Every unit of a bench answers to a unit address and a pair of unit keys of
// its own. The tool opens the unit it chose by its address and asks for its
// identities by its keys: two units that shared either would let a job
// check one unit and write another.
#ifndef ECUPROG_SIM_UNIT_ADDRESSES_H
#define ECUPROG_SIM_UNIT_ADDRESSES_H

#include <cstddef>
#include <vector>

#include "sim/bench.h"

/// Refuses two units that show one unit address (all ten bytes), or one
/// pair of unit keys, naming both. Two units that both show a raw record
/// and simulate no flash may share them: such units show listings no real
/// server would, and cannot be programmed. Throws BenchError.
void CheckUnitsApart(const SimBench& bench);

/// Gives the units at `indexes` (written without an address) the lowest
/// addresses 0.0.n that no other unit shows; the first takes 0.0.0 when
/// it is free.
void GiveFreeAddresses(SimBench& bench, const std::vector<size_t>& indexes);

/// Gives the units at `indexes` (written without keys) the lowest key
/// pairs (0, n) that no other unit shows.
void GiveFreeKeys(SimBench& bench, const std::vector<size_t>& indexes);

#endif  // ECUPROG_SIM_UNIT_ADDRESSES_H

// The objects of the simulated server: the root ProgrammingServer, one
// DeviceInterface per opened unit, one ProgrammingInterface per region, and
// the class object that makes roots, and the simulator's identity. Each
// function returns a new object holding one reference, the caller's.
#ifndef ECUPROG_SIM_SIM_OBJECTS_H
#define ECUPROG_SIM_SIM_OBJECTS_H

#include <memory>

#include "server/server_interfaces.h"
#include "sim/sim_state.h"

ProgrammingServer* NewSimRoot(std::shared_ptr<SimState> state);
DeviceInterface* NewSimDevice(std::shared_ptr<SimState> state,
                              size_t unitIndex);
ProgrammingInterface* NewSimProgrammer(std::shared_ptr<SimState> state,
                                       size_t unitIndex, SimRegion region);
/// The object that answers SimulatedServer (sim_identity.cpp).
SimulatedServer* NewSimIdentity(std::shared_ptr<SimState> state);
/// The class object for CLSID_ProgrammingServer: each CreateInstance makes
/// a new root on the same state, or, asked for SimulatedServer, the
/// simulator's identity.
IClassFactory* NewSimClassFactory(std::shared_ptr<SimState> state);

/// Answers an array output as the call's fault says: normally an array of
/// `type` holding `data`; or none, another element type, or a count that
/// breaks the data apart. Returns the call's result.
HRESULT AnswerSimArray(const SimFault* fault, VARTYPE type,
                       const std::vector<uint8_t>& data, SAFEARRAY** out);

#endif  // ECUPROG_SIM_SIM_OBJECTS_H

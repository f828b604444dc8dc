// SimServer: the simulated programming server running in this process.
// Unit tests hand its objects to the tool's phases in place of the real
// server (no process, no socket); ecuprog-sim serves the very same objects
// to other processes.
//
//   TempFolder folder;
//   SimBench bench = WriteDefaultBench(folder.path(), BenchTiming::kInstant);
//   SimServer server(bench);
//   server.Register();           // CoCreateInstance now answers from it
//   ... run a phase ...
//   server.state().Calls("OpenDevice")[0].bytes   // what the tool sent
#ifndef ECUPROG_SIM_SIM_SERVER_H
#define ECUPROG_SIM_SIM_SERVER_H

#include <memory>
#include <string>

#include "server/server_interfaces.h"
#include "sim/bench.h"
#include "sim/sim_state.h"

class SimServer {
 public:
  /// Starts on `bench` (validated, flash files prepared). Throws BenchError.
  explicit SimServer(SimBench bench);
  /// Starts on the bench in `folder`. Throws BenchError.
  explicit SimServer(const std::string& folder);
  /// Revokes the registration, if any. Objects the client still holds stay
  /// usable.
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  /// The call log, profile, flash and counters, and the exit hook.
  SimState& state() { return *state_; }
  const std::shared_ptr<SimState>& sharedState() { return state_; }

  /// A new root object with one reference, the caller's.
  ProgrammingServer* NewRoot();
  /// The class object for CLSID_ProgrammingServer, one reference.
  IClassFactory* NewClassFactory();

  /// Registers the class object with CoRegisterClassObject (local server,
  /// multiple use), so that CoCreateInstance of CLSID_ProgrammingServer in
  /// this process is answered by this server. Returns the result.
  HRESULT Register();
  /// Undoes Register.
  void Unregister();

 private:
  std::shared_ptr<SimState> state_;
  bool registered_ = false;
  DWORD cookie_ = 0;
};

#endif  // ECUPROG_SIM_SIM_SERVER_H

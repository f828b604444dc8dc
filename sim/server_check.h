// Which server COM gives a program that creates the programming server's
// class: asked of COM itself, as programs of each bitness ask it, so that
// whatever decides it (the registry's views, a server already running, the
// machine's settings) is taken into account.
#ifndef ECUPROG_SIM_SERVER_CHECK_H
#define ECUPROG_SIM_SERVER_CHECK_H

#include <string>
#include <vector>

/// What one kind of program reaches.
struct ServerReached {
  /// "32-bit programs", "64-bit programs" (or "programs" where there is one
  /// kind).
  std::string programs;
  /// Whether the simulator answered.
  bool simulator = false;
  /// Says what answered: the simulator's path and bitness, a server that is
  /// not the simulator, or why nothing did.
  std::string answer;
};

/// Creates the class once for each kind of program and asks what answered
/// for the simulator's own interface. Starts a simulator where the
/// registration names one (it ends once released) and changes nothing.
/// COM must be initialised on the calling thread.
std::vector<ServerReached> CheckServerReached();

/// Whether every kind of program reached the simulator.
bool EveryProgramReachesSimulator(const std::vector<ServerReached>& reached);

#endif  // ECUPROG_SIM_SERVER_CHECK_H

#include "driver/stop_run.h"

#include <cstdlib>

#include "driver/console.h"

namespace {

void ExitWithCode(int exitCode, const char*) { std::exit(exitCode); }

RunExit g_exit = ExitWithCode;

}  // namespace

void SetRunExit(RunExit exit) { g_exit = exit ? exit : ExitWithCode; }

void StopRun(int exitCode, const char* message) {
  CoUninitialize();
  PrintLine(message);
  PrintLine("Press space to exit");
  WaitForSpace();
  g_exit(exitCode, message);
  std::abort();  // an exit that returned has broken its contract
}

void CheckServerResult(HRESULT result) {
  if (FAILED(result)) StopRun(1, "ERROR COMMUNICATING WITH SERVER");
}

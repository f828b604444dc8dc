#include "report/stop_run.h"

#include <cstdlib>
#include <new>

#include "report/console.h"
#include "report/job_record.h"

namespace {

constexpr char kOutOfMemory[] = "OUT OF MEMORY";

void ExitWithCode(int exitCode, const char*) { std::exit(exitCode); }

RunExit g_exit = ExitWithCode;

// Room held back for the stop: when memory runs out it is given back, so
// that the stop's own lines and the closing of the server connection can
// still allocate. Untouched until then, it costs address space only.
constexpr size_t kStopReserveBytes = 1 << 20;
char* g_stopReserve = nullptr;
bool g_stoppingForMemory = false;

// The new-handler of the run: called by every allocation that fails,
// whether through new, a standard container or the inflater.
void StopForMemory() {
  delete[] g_stopReserve;
  g_stopReserve = nullptr;
  if (g_stoppingForMemory) {
    // The stop itself ran out even so: end without its lines and its wait.
    std::set_new_handler(nullptr);
    g_exit(1, kOutOfMemory);
    std::abort();
  }
  g_stoppingForMemory = true;
  StopRun(1, kOutOfMemory);
}

}  // namespace

void StopRunWhenMemoryRunsOut() {
  if (g_stopReserve == nullptr) {
    g_stopReserve = new (std::nothrow) char[kStopReserveBytes];
  }
  g_stoppingForMemory = false;
  std::set_new_handler(StopForMemory);
}

void SetRunExit(RunExit exit) { g_exit = exit ? exit : ExitWithCode; }

void StopRun(int exitCode, const char* message) {
  CoUninitialize();
  PrintLine(message);
  // On the disk before the wait: the window may be closed at the prompt.
  EndJobRecord(exitCode, message);
  PrintLine("Press space to exit");
  WaitForSpace();
  g_exit(exitCode, message);
  std::abort();  // an exit that returned has broken its contract
}

void CheckServerResult(HRESULT result) {
  if (FAILED(result)) StopRun(1, "ERROR COMMUNICATING WITH SERVER");
}

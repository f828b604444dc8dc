// A program of the Windows GUI subsystem gets no console, and its standard
// handles are only what its starter passed on: a prompt passes none, a
// redirection or a pipe passes those. The C runtime's streams are bound to
// whatever the handles were at start-up.
#include <io.h>
#include <stdlib.h>

#include <cstdio>

#include "platform/parent_console.h"
#include "platform/windows_api.h"

namespace {

// Whether `handle` takes writes as it is: a file, a pipe, or a console this
// process is attached to. A console handle inherited while unattached (a
// prompt's own, passed on beside a redirected stream) is taken as none;
// so is NUL, whose output then shows on the prompt's console instead.
bool Usable(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
    case FILE_TYPE_PIPE:
      return true;
    case FILE_TYPE_CHAR: {
      DWORD mode = 0;
      return GetConsoleMode(handle, &mode) != 0;
    }
    default:
      return false;
  }
}

// Reopens `stream` on the attached console and makes it the standard
// handle `which`, so that code asking for the handle writes there too.
void ReopenOnConsole(FILE* stream, DWORD which) {
  if (std::freopen("CONOUT$", "w", stream) == nullptr) return;
  // Unbuffered as a console stream is at start-up: lines show as they
  // are written, also when the program ends abruptly.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  const intptr_t handle = _get_osfhandle(_fileno(stream));
  if (handle != -1) SetStdHandle(which, reinterpret_cast<HANDLE>(handle));
}

}  // namespace

void AttachParentConsole() {
  const bool outUsable = Usable(GetStdHandle(STD_OUTPUT_HANDLE));
  const bool errorUsable = Usable(GetStdHandle(STD_ERROR_HANDLE));
  if (outUsable && errorUsable) return;
  // Started from a prompt without redirection: print in the prompt's
  // window. Started by a program without a console: nowhere to print.
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!outUsable) ReopenOnConsole(stdout, STD_OUTPUT_HANDLE);
  if (!errorUsable) ReopenOnConsole(stderr, STD_ERROR_HANDLE);
}

void EndFatalFaultsWithoutDialog() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
               SEM_NOOPENFILEERRORBOX);
  _set_error_mode(_OUT_TO_STDERR);
}

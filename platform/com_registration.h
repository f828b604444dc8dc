// Where a COM class's local server is found.
//
// Like LocalServer32 on Windows: a class is registered with the command that
// starts its server, and CoCreateInstance with CLSCTX_LOCAL_SERVER starts
// that command with the argument "-Embedding" when a client asks for the
// class. On POSIX hosts the registry is a folder with one entry per class;
// the environment variable ECUPROG_COM_REGISTRY moves it (default
// ${XDG_CONFIG_HOME:-$HOME/.config}/ecuprog/com-registry), so that test
// benches can each use their own.
#ifndef ECUPROG_PLATFORM_COM_REGISTRATION_H
#define ECUPROG_PLATFORM_COM_REGISTRATION_H

#include "platform/windows_api.h"

/// Registers `command` as the local server of `clsid`, replacing an earlier
/// registration. `command` is the path of an executable, optionally followed
/// by arguments separated by blanks (a path holding blanks is given in double
/// quotes); "-Embedding" is appended when it is started. Returns S_OK, or
/// E_INVALIDARG for an empty command, or E_ACCESSDENIED / E_FAIL when the
/// registry cannot be written. On Windows an entry another program made
/// there is kept, and UnregisterLocalServer puts it back
/// (platform/win32/registration_journal.h).
HRESULT RegisterLocalServer(REFCLSID clsid, const char* command);

/// Removes the registration of `clsid`. Returns S_OK, S_FALSE when it was
/// not registered, or E_ACCESSDENIED / E_FAIL when the registry cannot be
/// written.
HRESULT UnregisterLocalServer(REFCLSID clsid);

#endif  // ECUPROG_PLATFORM_COM_REGISTRATION_H

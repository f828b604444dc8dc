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

#include <string>
#include <vector>

#include "platform/windows_api.h"

/// Registers `command` as the local server of `clsid`, replacing an earlier
/// registration. On Windows it is made in both registry views, so that
/// programs of either bitness find it before a server registered for them
/// alone. `command` is the path of an executable, optionally followed
/// by arguments separated by blanks (a path holding blanks is given in double
/// quotes); "-Embedding" is appended when it is started. Returns S_OK, or
/// E_INVALIDARG for an empty command, or E_ACCESSDENIED / E_FAIL when the
/// registry cannot be written. On Windows an entry another program made
/// there is kept, and UnregisterLocalServer puts it back
/// (platform/win32/registration_journal.h).
HRESULT RegisterLocalServer(REFCLSID clsid, const char* command);

/// Removes the registration of `clsid` (in both views on Windows, whichever
/// program made it). Returns S_OK, S_FALSE when it was not registered, or
/// E_ACCESSDENIED / E_FAIL when the registry cannot be written.
HRESULT UnregisterLocalServer(REFCLSID clsid);

/// Whether COM reads the registrations this process makes. False, with
/// `why` saying so, where it would ignore them: on Windows a process with
/// administrator rights while User Account Control is off, for which COM
/// reads only the machine's classes.
bool ComReadsOwnRegistrations(std::string* why);

/// A kind of program that creates a class, and the activation flags that
/// make COM choose a server as it would for such a program.
struct ClientKind {
  const char* programs;  ///< "32-bit programs", ...
  DWORD context;         ///< added to CLSCTX_LOCAL_SERVER
};

/// On Windows 32-bit and 64-bit programs (CLSCTX_ACTIVATE_32_BIT_SERVER,
/// CLSCTX_ACTIVATE_64_BIT_SERVER); elsewhere one kind, "programs".
std::vector<ClientKind> ClientKinds();

#endif  // ECUPROG_PLATFORM_COM_REGISTRATION_H

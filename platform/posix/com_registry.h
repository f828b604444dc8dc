// The folder of local-server registrations, as the activation code reads it.
#ifndef ECUPROG_PLATFORM_POSIX_COM_REGISTRY_H
#define ECUPROG_PLATFORM_POSIX_COM_REGISTRY_H

#include <string>
#include <vector>

#include "platform/posix/windows_subset.h"

namespace com_posix {

/// The registry folder: $ECUPROG_COM_REGISTRY, else
/// ${XDG_CONFIG_HOME:-$HOME/.config}/ecuprog/com-registry; empty when none of
/// these is set.
std::string RegistryFolder();

/// A class's entry name: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string GuidText(REFGUID guid);

/// The command registered for `clsid`; false when there is none, or when
/// the entry is no regular file of a command's size.
bool LookupLocalServer(REFCLSID clsid, std::string* command);

/// True when `program` may be started as a local server: an absolute path
/// to a regular file this process may execute.
bool IsStartableProgram(const std::string& program);

/// The words of a registered command: separated by blanks, a double-quoted
/// stretch keeps its blanks. An unclosed quote runs to the end.
std::vector<std::string> SplitCommand(const std::string& command);

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_COM_REGISTRY_H

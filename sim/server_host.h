// What the server executable needs from the system it is installed on.
#ifndef ECUPROG_SIM_SERVER_HOST_H
#define ECUPROG_SIM_SERVER_HOST_H

#include <string>

#include "platform/windows_api.h"

/// The full path of the running executable; empty when it cannot be told.
std::string OwnExecutablePath();

/// Whether the error output of a server that its client started reaches
/// the user: on POSIX hosts the tool passes on its own; on Windows COM
/// starts the server with none, and it keeps a log in the bench instead.
bool ServerErrorOutputIsSeen();

/// Registers, for the current user, the marshalling code of the server's
/// interfaces that ships beside the server at `serverPath`, so that COM can
/// carry calls between the tool and the server. Returns S_OK, or a failure
/// (a message saying why goes to standard error). Where the platform's COM
/// marshals the interfaces itself there is nothing to register.
///
/// Where the server lies in a kit of both bitnesses (x86\ and x64\) and the
/// other folder holds its marshalling DLL, that DLL is registered for
/// programs of the other bitness too, and its path is put in
/// `otherBitness` (when given).
HRESULT RegisterInterfaceMarshalling(const std::string& serverPath,
                                     std::string* otherBitness = nullptr);

/// Undoes RegisterInterfaceMarshalling, for both bitnesses. Returns S_OK or
/// a failure.
HRESULT UnregisterInterfaceMarshalling();

#endif  // ECUPROG_SIM_SERVER_HOST_H

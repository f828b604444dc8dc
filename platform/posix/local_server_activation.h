// Starting a registered local server for one client request.
#ifndef ECUPROG_PLATFORM_POSIX_LOCAL_SERVER_ACTIVATION_H
#define ECUPROG_PLATFORM_POSIX_LOCAL_SERVER_ACTIVATION_H

#include "platform/posix/windows_subset.h"

namespace com_posix {

/// How long a started server has to answer its client's first request.
constexpr int kActivationTimeoutSeconds = 10;

/// Starts the server registered for `clsid` and asks it for an instance of
/// `iid`, answered in *object by a proxy. REGDB_E_CLASSNOTREG when no server
/// is registered, E_NOINTERFACE when `iid` cannot cross, or
/// CO_E_SERVER_EXEC_FAILURE when the server cannot be started or does not
/// answer in time; otherwise what the server's class factory answered.
HRESULT ActivateLocalServer(REFCLSID clsid, REFIID iid, void** object);

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_LOCAL_SERVER_ACTIVATION_H

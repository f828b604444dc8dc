// The client's stand-ins for a local server's objects.
//
// The interfaces that cross are the programming server's, so their proxies
// are defined beside their declarations (server/posix), as on Windows the
// proxy DLL built from the interfaces' IDL is what marshals them; the
// platform's activation calls them.
#ifndef ECUPROG_PLATFORM_POSIX_INTERFACE_PROXIES_H
#define ECUPROG_PLATFORM_POSIX_INTERFACE_PROXIES_H

#include <capnp/capability.h>

#include "platform/posix/windows_subset.h"

namespace com_posix {

class Connection;

/// True for the interfaces whose calls can cross to a local server.
bool IsMarshalledInterface(REFIID iid);

/// Makes a proxy of interface `iid` that calls `capability` through
/// `connection`, and answers it as `wanted` (its own interface or IUnknown)
/// in *object. E_NOINTERFACE, with *object null, when `iid` does not cross or
/// `wanted` is neither.
HRESULT MakeProxy(REFIID iid, capnp::Capability::Client capability,
                  Connection* connection, REFIID wanted, void** object);

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_INTERFACE_PROXIES_H

// The server's side of calls from a client process: its objects, served.
//
// Defined beside the server interfaces' declarations (server/posix), which
// are not the platform's to know; the platform's local server calls them.
#ifndef ECUPROG_PLATFORM_POSIX_INTERFACE_STUBS_H
#define ECUPROG_PLATFORM_POSIX_INTERFACE_STUBS_H

#include <capnp/capability.h>

#include "platform/posix/windows_subset.h"

namespace com_posix {

/// Serves `object`, a pointer of interface `iid`, to the client; takes over
/// the reference and releases it when the client lets go. Null when `iid`
/// does not cross (the reference is then released at once).
kj::Maybe<capnp::Capability::Client> MakeStub(REFIID iid, void* object);

/// Serves `object` as the first crossing interface it answers to, named in
/// *iid; takes over the reference. Null when it answers to none.
kj::Maybe<capnp::Capability::Client> MakeStubForUnknown(IUnknown* object,
                                                        IID* iid);

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_INTERFACE_STUBS_H

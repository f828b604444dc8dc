// Arrays, texts and identifiers as they cross to and from a local server.
#ifndef ECUPROG_PLATFORM_POSIX_VALUE_MARSHAL_H
#define ECUPROG_PLATFORM_POSIX_VALUE_MARSHAL_H

#include <capnp/blob.h>
#include <capnp/message.h>

#include "platform/posix/com_marshal.capnp.h"
#include "platform/posix/windows_subset.h"

namespace com_posix {

/// The result of a call whose arguments or outputs arrived malformed
/// (RPC_X_BAD_STUB_DATA).
constexpr HRESULT kBadStubData = static_cast<HRESULT>(0x800706F7);

/// The largest message either end of a channel reads.
constexpr size_t kMaxMessageBytes = size_t{16} << 20;

/// The reading limits of both ends of a channel: a message announced larger
/// than kMaxMessageBytes fails the read (and so the call) before its room is
/// reserved.
capnp::ReaderOptions ReceiveOptions();

/// Puts an array (or its absence) into a message; the array is untouched.
/// With `borrow` the message refers to the array's bytes instead of holding
/// a copy: the array must outlive the message (a call's argument does).
void WriteArray(SAFEARRAY* array, com_marshal::Array::Builder out,
                bool borrow = false);

/// A new array equal to the one in the message (null when it held none).
/// kBadStubData when the message holds no array this side could make,
/// E_OUTOFMEMORY when it cannot be allocated.
HRESULT ReadArray(com_marshal::Array::Reader in, SAFEARRAY** array);

/// Destroys an array the marshalling code owns, even if the code it was lent
/// to left it locked.
void DestroyOwnedArray(SAFEARRAY* array);

/// Copies a text (or its absence) into a message.
void WriteText(BSTR text, com_marshal::Text::Builder out);

/// A new BSTR equal to the one in the message (null when it held none).
HRESULT ReadText(com_marshal::Text::Reader in, BSTR* text);

/// The 16 bytes of a GUID as they lie in memory.
capnp::Data::Reader GuidBytes(const GUID& guid);

/// The GUID in 16 bytes; false for any other length.
bool ReadGuid(capnp::Data::Reader bytes, GUID* guid);

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_VALUE_MARSHAL_H

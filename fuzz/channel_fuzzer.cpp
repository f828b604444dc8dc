// The bytes a server process sends on the channel, as the tool reads them:
// one framed message (segment table, then segments) read with the channel's
// limits, its root taken as one of the answers the tool decodes: arrays,
// texts, results and identifiers. The first input byte chooses the answer;
// the rest is the message. Arrays the server side reads (the profile, a
// region's data) are decoded the same way and are fuzzed here too.
//
// Whatever the bytes, decoding must not crash, read or write out of bounds,
// or reserve more than the message limit; an array it makes must be one the
// tool can take over with bounds that describe its element count, and a
// text must hold exactly the units that came.
#include <capnp/serialize.h>
#include <kj/io.h>

#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "platform/posix/com_marshal.capnp.h"
#include "platform/posix/value_marshal.h"
#include "server/array_response.h"
#include "server/com_ref.h"

namespace {

using com_marshal::Activator;
using com_marshal::ProgrammingInterface;
using com_marshal::ProgrammingServer;

// Decodes an array as the proxies and stubs do, then takes it over as the
// phases do, and reads every byte of it.
void CheckArray(com_marshal::Array::Reader in) {
  SafeArrayRef array;
  const HRESULT hr = com_posix::ReadArray(in, array.Out());
  FUZZ_CHECK(hr == S_OK || hr == com_posix::kBadStubData || hr == E_OUTOFMEMORY,
             "unexpected result decoding an array");
  if (FAILED(hr)) {
    FUZZ_CHECK(!array, "a refused array was still made");
    return;
  }
  if (!array) return;
  VARTYPE vt = VT_EMPTY;
  FUZZ_CHECK(SUCCEEDED(SafeArrayGetVartype(array.get(), &vt)),
             "a made array has no element type");
  size_t count = 0;
  FUZZ_CHECK(TakeOverArray(array, vt, &count),
             "a made array cannot be taken over");
  FUZZ_CHECK(count == in.getValue().getElementCount(),
             "the element count changed on the way");
  const auto* bytes = static_cast<const volatile uint8_t*>(array.data());
  uint8_t sum = 0;
  for (size_t i = 0; i < count * array.get()->cbElements; ++i) sum += bytes[i];
  (void)sum;
}

void CheckText(com_marshal::Text::Reader in) {
  BstrRef text;
  const HRESULT hr = com_posix::ReadText(in, text.Out());
  if (FAILED(hr) || text.get() == nullptr) return;
  FUZZ_CHECK(size_t{SysStringLen(text.get())} * sizeof(OLECHAR) ==
                 in.getUnits().size(),
             "a text lost or gained units");
  FUZZ_CHECK(text.get()[SysStringLen(text.get())] == 0,
             "a text is not terminated");
}

void CheckGuid(capnp::Data::Reader in) {
  GUID guid{};
  const bool read = com_posix::ReadGuid(in, &guid);
  FUZZ_CHECK(read == (in.size() == sizeof(GUID)), "an identifier misread");
}

void Decode(uint8_t kind, capnp::MessageReader& message) {
  switch (kind % 8) {
    case 0:
      CheckArray(message.getRoot<ProgrammingServer::DetectDevicesResults>()
                     .getDevices());
      break;
    case 1:
      CheckArray(message.getRoot<ProgrammingServer::GetIdentitiesResults>()
                     .getIdentities());
      break;
    case 2:
      CheckText(
          message.getRoot<ProgrammingServer::GetAccessNameResults>().getName());
      break;
    case 3:
      CheckText(message.getRoot<ProgrammingServer::GetIdentityNameResults>()
                    .getName());
      break;
    case 4: {
      auto answer =
          message.getRoot<ProgrammingInterface::AcquireGroupResults>();
      // Summed as unsigned: a result and a status near their limits would
      // overflow a signed sum.
      uint8_t sum = static_cast<uint8_t>(
          static_cast<uint32_t>(answer.getResult()) + answer.getStatus());
      for (uint8_t byte : answer.getTicket()) sum += byte;
      (void)sum;
      break;
    }
    case 5:
      CheckGuid(message.getRoot<Activator::CreateInstanceResults>().getIid());
      break;
    case 6:
      CheckArray(
          message.getRoot<ProgrammingServer::SetProfileParams>().getProfile());
      break;
    case 7:
      CheckArray(message.getRoot<ProgrammingInterface::ProgramRegionParams>()
                     .getData());
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  kj::ArrayInputStream stream(kj::arrayPtr(data + 1, size - 1));
  try {
    capnp::InputStreamMessageReader message(stream,
                                            com_posix::ReceiveOptions());
    Decode(data[0], message);
  } catch (const kj::Exception&) {
    // A message the reader refuses (cut short, too large, malformed
    // pointers) fails the call that waited for it.
  }
  return 0;
}

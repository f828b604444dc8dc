// Arrays and texts cross by value: the receiving side makes its own copy,
// faithfully, even when it is not what the interface promises (another
// element type, a length that is no whole number of records), since judging
// that is the caller's business.
#include <capnp/orphan.h>

#include <cstring>

#include "platform/posix/value_marshal.h"

namespace com_posix {

// Arrays cross whole inside one message. The largest honest message is far
// below the limit: a code image of under half a MiB, or a detection array
// of 256 units (321,536 bytes). A peer that announces more is broken or
// hostile; reading stops there, before the room for the message is taken,
// and the call fails.
capnp::ReaderOptions ReceiveOptions() {
  capnp::ReaderOptions options;
  options.traversalLimitInWords = kMaxMessageBytes / sizeof(capnp::word);
  return options;
}

constexpr size_t kBorrowedArrayBytes = 64 * 1024;

void WriteArray(SAFEARRAY* array, com_marshal::Array::Builder out,
                bool borrow) {
  VARTYPE vt = VT_EMPTY;
  if (array == nullptr || array->cDims != 1 ||
      FAILED(SafeArrayGetVartype(array, &vt))) {
    out.setNull();
    return;
  }
  auto value = out.initValue();
  const SAFEARRAYBOUND& bound = array->rgsabound[0];
  value.setVartype(vt);
  value.setLowerBound(bound.lLbound);
  value.setElementCount(bound.cElements);
  const size_t bytes = size_t{bound.cElements} * array->cbElements;
  const capnp::Data::Reader elements(
      static_cast<const capnp::byte*>(array->pvData), bytes);
  // Only a large array is worth a segment of its own; an empty one cannot
  // have one.
  if (borrow && bytes >= kBorrowedArrayBytes) {
    // The message refers to the array's own bytes; SafeArrayCreate pads
    // them to whole words, as the message will show them.
    value.adoptElements(
        capnp::Orphanage::getForMessageContaining(value).referenceExternalData(
            elements));
  } else {
    value.setElements(elements);
  }
}

HRESULT ReadArray(com_marshal::Array::Reader in, SAFEARRAY** array) {
  *array = nullptr;
  if (in.isNull()) return S_OK;
  auto value = in.getValue();
  // Read before the array is made: a malformed message throws here, and an
  // array made already would be lost.
  const capnp::Data::Reader elements = value.getElements();
  SAFEARRAYBOUND bound{value.getElementCount(), value.getLowerBound()};
  // Every element takes at least a byte, so a count beyond the bytes that
  // came is a lie; refuse it before the room for it is taken, which could
  // be 8 GiB for a message of a few words.
  if (size_t{bound.cElements} > elements.size()) return kBadStubData;
  SAFEARRAY* made = SafeArrayCreate(value.getVartype(), 1, &bound);
  if (made == nullptr) {
    // A type this side has no arrays of, or a size it cannot hold.
    return kBadStubData;
  }
  if (elements.size() != size_t{bound.cElements} * made->cbElements) {
    SafeArrayDestroy(made);
    return kBadStubData;
  }
  if (elements.size() != 0) {
    std::memcpy(made->pvData, elements.begin(), elements.size());
  }
  *array = made;
  return S_OK;
}

void DestroyOwnedArray(SAFEARRAY* array) {
  if (array == nullptr) return;
  while (array->cLocks != 0) SafeArrayUnlock(array);
  SafeArrayDestroy(array);
}

void WriteText(BSTR text, com_marshal::Text::Builder out) {
  if (text == nullptr) {
    out.setNull();
    return;
  }
  out.setUnits(
      capnp::Data::Reader(reinterpret_cast<const capnp::byte*>(text),
                          size_t{SysStringLen(text)} * sizeof(OLECHAR)));
}

HRESULT ReadText(com_marshal::Text::Reader in, BSTR* text) {
  *text = nullptr;
  if (in.isNull()) return S_OK;
  const capnp::Data::Reader units = in.getUnits();
  if (units.size() % sizeof(OLECHAR) != 0) return kBadStubData;
  const UINT length = static_cast<UINT>(units.size() / sizeof(OLECHAR));
  BSTR made = SysAllocStringLen(nullptr, length);
  if (made == nullptr) return E_OUTOFMEMORY;
  if (length != 0) std::memcpy(made, units.begin(), units.size());
  *text = made;
  return S_OK;
}

capnp::Data::Reader GuidBytes(const GUID& guid) {
  return capnp::Data::Reader(reinterpret_cast<const capnp::byte*>(&guid),
                             sizeof(GUID));
}

bool ReadGuid(capnp::Data::Reader bytes, GUID* guid) {
  if (bytes.size() != sizeof(GUID)) return false;
  std::memcpy(guid, bytes.begin(), sizeof(GUID));
  return true;
}

}  // namespace com_posix

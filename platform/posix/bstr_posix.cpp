// BSTR texts on POSIX hosts: UTF-16 code units, preceded by their length in
// bytes as four bytes and followed by a NUL unit, the pointer pointing at
// the first unit, as on Windows.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/posix/windows_subset.h"

namespace {

constexpr size_t kPrefixBytes = sizeof(uint32_t);

uint32_t* PrefixOf(BSTR text) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) -
                                     kPrefixBytes);
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  // The byte length must fit the prefix.
  if (length > (UINT32_MAX - kPrefixBytes - sizeof(OLECHAR)) / sizeof(OLECHAR))
    return nullptr;
  const size_t bytes = size_t{length} * sizeof(OLECHAR);
  void* block = std::malloc(kPrefixBytes + bytes + sizeof(OLECHAR));
  if (block == nullptr) return nullptr;
  *static_cast<uint32_t*>(block) = static_cast<uint32_t>(bytes);
  BSTR result =
      reinterpret_cast<BSTR>(static_cast<char*>(block) + kPrefixBytes);
  // Without a source the caller fills the text; it starts as NUL units.
  if (text != nullptr) {
    std::memcpy(result, text, bytes);
  } else {
    std::memset(result, 0, bytes);
  }
  result[length] = u'\0';
  return result;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  UINT length = 0;
  while (text[length] != u'\0') ++length;
  return SysAllocStringLen(text, length);
}

UINT SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  return *PrefixOf(text) / sizeof(OLECHAR);
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(PrefixOf(text));
}

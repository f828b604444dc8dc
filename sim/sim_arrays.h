// The arrays and texts the simulated server exchanges with its client, made
// and read through the OLE Automation calls a real server uses.
#ifndef ECUPROG_SIM_SIM_ARRAYS_H
#define ECUPROG_SIM_SIM_ARRAYS_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform/windows_api.h"
#include "sim/bench.h"

/// Bytes per element of the element types a simulated array may have; 0
/// for any other type.
size_t SimElementSize(VARTYPE type);

/// A one-dimensional array with lower bound 0 and `count` elements of
/// `type`, holding `bytes` from its first element (cut to fit, the rest
/// zero). nullptr when it cannot be made.
SAFEARRAY* MakeSimArray(VARTYPE type, ULONG count,
                        const std::vector<uint8_t>& bytes);

/// What a received array is, as recorded in the call log.
struct SimArrayFacts {
  int64_t count = 0;  ///< upper bound - lower bound + 1 over dimension 1
  int64_t lowerBound = 0;
  int64_t type = 0;
  int64_t dims = 0;
};

/// Reads a received array: its facts, and its bytes when it is a
/// one-dimensional VT_UI1 array that can be locked. Returns whether the
/// bytes were read.
bool ReadSimByteArray(SAFEARRAY* array, SimArrayFacts* facts,
                      std::vector<uint8_t>* bytes);

/// The wide text of a name held as UTF-8 (invalid bytes become U+FFFD).
std::u16string Utf8ToUtf16(const std::string& text);
/// The UTF-8 text of a wide one (a lone surrogate is kept as its own three
/// bytes).
std::string Utf16ToUtf8(const std::u16string& text);

/// A BSTR holding `name`, or nullptr when the name is null.
BSTR MakeSimString(const SimName& name);

#endif  // ECUPROG_SIM_SIM_ARRAYS_H

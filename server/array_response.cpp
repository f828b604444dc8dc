#include "server/array_response.h"

#include <cstdint>

bool TakeOverArray(SafeArrayRef& array, VARTYPE expected, size_t* count) {
  if (!array) return false;
  VARTYPE vt = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array.get(), &vt)) || vt != expected) {
    return false;
  }
  LONG lower = 0;
  LONG upper = 0;
  if (array.get()->cDims != 1 ||
      FAILED(SafeArrayGetLBound(array.get(), 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array.get(), 1, &upper))) {
    return false;
  }
  // The element count is what the data area holds; the bounds must describe
  // exactly that many elements. They cannot when the upper bound has
  // wrapped (an empty array at the lowest lower bound reads as one of 2^32
  // elements), and such an array is no answer at all.
  const ULONG elements = array.get()->rgsabound[0].cElements;
  if (int64_t{lower} + int64_t{elements} - 1 != int64_t{upper} ||
      !array.Lock()) {
    return false;
  }
  *count = elements;
  return true;
}

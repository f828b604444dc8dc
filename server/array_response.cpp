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
  if (FAILED(SafeArrayGetLBound(array.get(), 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array.get(), 1, &upper))) {
    return false;
  }
  // An empty array has its upper bound one below its lower bound; anything
  // lower is not an array at all.
  int64_t elements = int64_t{upper} - int64_t{lower} + 1;
  if (elements < 0 || !array.Lock()) return false;
  *count = static_cast<size_t>(elements);
  return true;
}

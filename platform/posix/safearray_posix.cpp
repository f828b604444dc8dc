// OLE Automation arrays on POSIX hosts.
//
// As on Windows, the element type lives in a header just before the
// descriptor, so a SAFEARRAY* is the same pointer callers know and
// SafeArrayGetVartype can still find the type. Only one-dimensional arrays
// of 1, 2 and 4-byte integers exist here: those are the arrays the server
// exchanges.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/posix/array_shortage.h"
#include "platform/posix/windows_subset.h"

namespace {

// The array a test has asked to be refused: its size, and how many of that
// size still pass first.
uint64_t g_refusedBytes = 0;
unsigned g_refusedAfter = 0;

bool RefusedForTest(uint64_t bytes) {
  if (g_refusedBytes == 0 || bytes != g_refusedBytes) return false;
  if (g_refusedAfter > 0) {
    --g_refusedAfter;
    return false;
  }
  g_refusedBytes = 0;
  return true;
}

// The allocation behind every array: the element type, then the descriptor.
struct ArrayAllocation {
  DWORD vartype;  // 32 bits, so the descriptor keeps its natural alignment
  SAFEARRAY descriptor;
};

ArrayAllocation* AllocationOf(SAFEARRAY* array) {
  return reinterpret_cast<ArrayAllocation*>(
      reinterpret_cast<char*>(array) - offsetof(ArrayAllocation, descriptor));
}

// The size of one element, or 0 for a type that has no array here.
ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
      return 2;
    case VT_I4:
    case VT_UI4:
      return 4;
    default:
      return 0;
  }
}

// Windows keeps the byte size of an array within 32 bits; so do we, and the
// upper bound must stay a LONG.
constexpr uint64_t kMaxArrayBytes = 0x7FFFFFFF;

bool ValidDimension(const SAFEARRAY* array, UINT dim) {
  return dim >= 1 && dim <= array->cDims;
}

}  // namespace

void RefuseSafeArrayOfSize(uint64_t bytes, unsigned skip) {
  g_refusedBytes = bytes;
  g_refusedAfter = skip;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
  const ULONG elementSize = ElementSize(vt);
  if (elementSize == 0 || dims != 1 || bounds == nullptr) return nullptr;
  const uint64_t count = bounds[0].cElements;
  const uint64_t bytes = count * elementSize;
  // Both bounds must be LONGs: an empty array at the lowest lower bound
  // would have an upper bound below any LONG, and reading it back would
  // wrap to the highest one, as if the array held 2^32 elements.
  const int64_t upper =
      static_cast<int64_t>(bounds[0].lLbound) + static_cast<int64_t>(count) - 1;
  if (bytes > kMaxArrayBytes || upper > INT32_MAX || upper < INT32_MIN) {
    return nullptr;
  }

  if (RefusedForTest(bytes)) return nullptr;

  auto* allocation = new (std::nothrow) ArrayAllocation{};
  if (allocation == nullptr) return nullptr;
  // An empty array still gets a data block, so pvData is never null. The
  // block is padded with zeros to whole 8-byte words: a message that refers
  // to the bytes instead of copying them carries whole words.
  const size_t padded = static_cast<size_t>((bytes + 7) / 8 * 8);
  void* data = std::calloc(padded == 0 ? 8 : padded, 1);
  if (data == nullptr) {
    delete allocation;
    return nullptr;
  }
  allocation->vartype = vt;
  SAFEARRAY& array = allocation->descriptor;
  array.cDims = 1;
  array.fFeatures = FADF_HAVEVARTYPE;
  array.cbElements = elementSize;
  array.cLocks = 0;
  array.pvData = data;
  array.rgsabound[0] = bounds[0];
  return &array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  // Like Windows, destroying no array is not an error.
  if (array == nullptr) return S_OK;
  if (array->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  std::free(array->pvData);
  delete AllocationOf(array);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  if (array->cLocks == 0xFFFF) return E_UNEXPECTED;
  ++array->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  if (array->cLocks == 0) return E_UNEXPECTED;
  --array->cLocks;
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
  if (array == nullptr || vt == nullptr) return E_INVALIDARG;
  if ((array->fFeatures & FADF_HAVEVARTYPE) == 0) return E_INVALIDARG;
  *vt = static_cast<VARTYPE>(AllocationOf(array)->vartype);
  return S_OK;
}

// Windows numbers dimensions from 1 and stores their bounds in reverse
// order; with one dimension both orders agree.
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (!ValidDimension(array, dim)) return DISP_E_BADINDEX;
  *bound = array->rgsabound[array->cDims - dim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (!ValidDimension(array, dim)) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = array->rgsabound[array->cDims - dim];
  *bound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

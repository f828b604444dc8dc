#include "sim/sim_arrays.h"

#include <algorithm>
#include <cstring>

size_t SimElementSize(VARTYPE type) {
  switch (type) {
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

SAFEARRAY* MakeSimArray(VARTYPE type, ULONG count,
                        const std::vector<uint8_t>& bytes) {
  const size_t elementSize = SimElementSize(type);
  if (elementSize == 0) return nullptr;
  SAFEARRAYBOUND bound;
  bound.cElements = count;
  bound.lLbound = 0;
  SAFEARRAY* array = SafeArrayCreate(type, 1, &bound);
  if (array == nullptr) return nullptr;
  if (count > 0) {
    if (FAILED(SafeArrayLock(array))) {
      SafeArrayDestroy(array);
      return nullptr;
    }
    const size_t size = static_cast<size_t>(count) * elementSize;
    uint8_t* data = static_cast<uint8_t*>(array->pvData);
    const size_t copied = std::min(size, bytes.size());
    std::memcpy(data, bytes.data(), copied);
    std::memset(data + copied, 0, size - copied);
    SafeArrayUnlock(array);
  }
  return array;
}

bool ReadSimByteArray(SAFEARRAY* array, SimArrayFacts* facts,
                      std::vector<uint8_t>* bytes) {
  VARTYPE type = VT_EMPTY;
  LONG lower = 0;
  LONG upper = -1;
  facts->dims = array->cDims;
  if (FAILED(SafeArrayGetVartype(array, &type))) return false;
  facts->type = type;
  if (array->cDims != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    return false;
  }
  facts->lowerBound = lower;
  facts->count = static_cast<int64_t>(upper) - lower + 1;
  if (type != VT_UI1 || facts->count < 0) return false;
  if (FAILED(SafeArrayLock(array))) return false;
  const uint8_t* data = static_cast<const uint8_t*>(array->pvData);
  bytes->assign(data, data + facts->count);
  SafeArrayUnlock(array);
  return true;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string wide;
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    uint32_t code = 0xFFFD;
    size_t length = 1;
    uint32_t min = 0;
    if (lead < 0x80) {
      code = lead;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      length = 2, code = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3, code = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      length = 4, code = lead & 0x07, min = 0x10000;
    }
    bool valid = length == 1 ? lead < 0x80 : i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const uint8_t next = static_cast<uint8_t>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    valid = valid && code >= min && code <= 0x10FFFF &&
            (code < 0xD800 || code > 0xDFFF);
    if (!valid) {
      wide += u'\uFFFD';
      i += 1;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      wide += static_cast<char16_t>(0xD800 + (code >> 10));
      wide += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      wide += static_cast<char16_t>(code);
    }
    i += length;
  }
  return wide;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string utf8;
  const size_t length = text.size();
  for (size_t i = 0; i < length; ++i) {
    uint32_t point = text[i];
    if (point >= 0xD800 && point < 0xDC00 && i + 1 < length) {
      const uint32_t low = text[i + 1];
      if (low >= 0xDC00 && low < 0xE000) {
        point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (point < 0x80) {
      utf8 += static_cast<char>(point);
    } else if (point < 0x800) {
      utf8 += static_cast<char>(0xC0 | (point >> 6));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (point >> 12));
      utf8 += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (point >> 18));
      utf8 += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return utf8;
}

BSTR MakeSimString(const SimName& name) {
  if (!name) return nullptr;
  const std::u16string wide = Utf8ToUtf16(*name);
  static_assert(sizeof(OLECHAR) == sizeof(char16_t), "UTF-16 texts");
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                           static_cast<UINT>(wide.size()));
}

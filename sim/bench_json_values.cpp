// The strict readers of bench.json's values.
#include "sim/bench_json_values.h"

#include "server/device_record.h"
#include "sim/bench_json.h"

namespace bench_json {

[[noreturn]] void Refuse(const std::string& where, const std::string& what) {
  throw BenchError(std::string(kBenchFileName) + ": " +
                   (where.empty() ? "" : where + ": ") + what);
}

// nlohmann parses without recursion, but a bench never nests deeply, and
// refusing deep nesting up front keeps every later step cheap.
void CheckDepth(const std::string& text) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > bench_limits::kMaxJsonDepth) {
        throw BenchError(std::string(kBenchFileName) + ": nested more than " +
                         std::to_string(bench_limits::kMaxJsonDepth) +
                         " levels deep");
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
}

int64_t Integer(const json& value, const std::string& where, int64_t min,
                int64_t max) {
  int64_t number = 0;
  bool ok = false;
  if (value.is_number_unsigned()) {
    const uint64_t u = value.get<uint64_t>();
    ok = u <= static_cast<uint64_t>(INT64_MAX);
    number = static_cast<int64_t>(u);
  } else if (value.is_number_integer()) {
    number = value.get<int64_t>();
    ok = true;
  } else if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > 2 && text.size() <= 18 && text[0] == '0' &&
        (text[1] == 'x' || text[1] == 'X')) {
      uint64_t u = 0;
      ok = true;
      for (size_t i = 2; i < text.size() && ok; ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        ok = digit >= 0 && u <= (UINT64_MAX >> 4);
        u = u << 4 | static_cast<uint64_t>(digit < 0 ? 0 : digit);
      }
      ok = ok && u <= static_cast<uint64_t>(INT64_MAX);
      number = static_cast<int64_t>(u);
    }
  }
  if (!ok || number < min || number > max) {
    Refuse(where, "expected a whole number from " + std::to_string(min) +
                      " to " + std::to_string(max));
  }
  return number;
}

uint16_t U16(const json& value, const std::string& where) {
  return static_cast<uint16_t>(Integer(value, where, 0, UINT16_MAX));
}

uint32_t U32(const json& value, const std::string& where) {
  return static_cast<uint32_t>(Integer(value, where, 0, UINT32_MAX));
}

// A unit's texts travel as strings that end at their first NUL: the tool
// would list, and the operator choose, a model name or label shorter than
// the one the unit is judged by, and a file name would name another file.
static void RefuseNul(const std::string& text, const std::string& where) {
  if (text.find('\0') != std::string::npos) {
    Refuse(where, "holds a NUL character (\\u0000) at byte " +
                      std::to_string(text.find('\0')) +
                      ", where the listing would end the text");
  }
}

std::string Text(const json& value, const std::string& where) {
  if (!value.is_string()) Refuse(where, "expected a text");
  RefuseNul(value.get_ref<const std::string&>(), where);
  return value.get<std::string>();
}

bool Flag(const json& value, const std::string& where) {
  if (!value.is_boolean()) Refuse(where, "expected true or false");
  return value.get<bool>();
}

SimName Name(const json& value, const std::string& where) {
  if (value.is_null()) return std::nullopt;
  if (!value.is_string()) Refuse(where, "expected a text or null");
  RefuseNul(value.get_ref<const std::string&>(), where);
  return value.get<std::string>();
}

const json& Object(const json& value, const std::string& where) {
  if (!value.is_object()) Refuse(where, "expected an object");
  return value;
}

const json& Array(const json& value, const std::string& where, size_t maxSize) {
  if (!value.is_array()) Refuse(where, "expected an array");
  if (value.size() > maxSize) {
    Refuse(where, "more than " + std::to_string(maxSize) + " entries");
  }
  return value;
}

std::vector<uint8_t> Hex(const json& value, const std::string& where) {
  const std::string text = Text(value, where);
  if (text.size() != 2 * kDeviceRecordSize) {
    Refuse(where, "expected 1256 bytes as 2512 hexadecimal digits");
  }
  std::vector<uint8_t> bytes(kDeviceRecordSize);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0)
      Refuse(where, "not a hexadecimal digit at " + std::to_string(i));
    bytes[i / 2] = static_cast<uint8_t>(bytes[i / 2] << 4 | digit);
  }
  return bytes;
}

uint16_t KeyNumber(const std::string& digits, const std::string& where,
                   const char* expected) {
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    Refuse(where, std::string("expected a key ") + expected);
  }
  return U16(json(std::stoll(digits)), where);
}

}  // namespace bench_json

// The values bench.json is made of, read strictly: each reader takes the
// path to its field (`where`, empty for the whole bench) and refuses with a
// BenchError naming that path anything it does not accept.
#ifndef ECUPROG_SIM_BENCH_JSON_VALUES_H
#define ECUPROG_SIM_BENCH_JSON_VALUES_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "sim/bench.h"

namespace bench_json {

using nlohmann::json;

/// Ends the reading with "bench.json: <where>: <what>".
[[noreturn]] void Refuse(const std::string& where, const std::string& what);

/// Refuses text nested deeper than a bench ever is, before it is parsed.
void CheckDepth(const std::string& text);

/// An integer within [min, max]: a JSON integer, or a string "0x..." in
/// hexadecimal.
int64_t Integer(const json& value, const std::string& where, int64_t min,
                int64_t max);
uint16_t U16(const json& value, const std::string& where);
uint32_t U32(const json& value, const std::string& where);
std::string Text(const json& value, const std::string& where);
bool Flag(const json& value, const std::string& where);
SimName Name(const json& value, const std::string& where);
const json& Object(const json& value, const std::string& where);
const json& Array(const json& value, const std::string& where, size_t maxSize);

/// A device record of 1256 bytes written as 2512 hexadecimal digits.
std::vector<uint8_t> Hex(const json& value, const std::string& where);

/// A decimal number of at most five digits, as in the keys of the name maps.
uint16_t KeyNumber(const std::string& digits, const std::string& where,
                   const char* expected);

// Reads the fields of an object, refusing those it does not know, so that
// a misspelt field is reported instead of silently taking its default.
class Fields {
 public:
  Fields(const json& object, std::string where)
      : object_(Object(object, where)), where_(std::move(where)) {}

  /// The field, or nullptr when absent.
  const json* Get(const std::string& key) {
    known_.insert(key);
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }
  std::string At(const std::string& key) const {
    return where_.empty() ? key : where_ + "." + key;
  }
  const std::string& where() const { return where_; }

  /// Refuses fields that were never asked for.
  void Finish() const {
    for (auto it = object_.begin(); it != object_.end(); ++it) {
      if (known_.count(it.key()) == 0) {
        Refuse(where_, "unknown field \"" + it.key() + "\"");
      }
    }
  }

 private:
  const json& object_;
  std::string where_;
  std::set<std::string> known_;
};

}  // namespace bench_json

#endif  // ECUPROG_SIM_BENCH_JSON_VALUES_H

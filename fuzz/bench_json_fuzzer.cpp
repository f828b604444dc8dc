// The simulator's bench reader over arbitrary text. A bench it does not
// accept must be refused with a BenchError that says so; one it accepts
// must be written back as text it reads again to the same bench.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "sim/bench_json.h"

namespace {

constexpr char kFolder[] = "/nonexistent/bench";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SimBench bench;
  try {
    bench = ParseBench(text, kFolder);
  } catch (const BenchError& error) {
    // Anything else escaping is a crash the fuzzer reports.
    const std::string message = error.what();
    ShowOutput(message);
    FUZZ_CHECK(StartsWith(message, "bench.json: ") &&
                   message.size() > sizeof "bench.json: ",
               message);
    return 0;
  }
  const std::string written = BenchToJson(bench);
  ShowOutput("accepted");
  SimBench again;
  try {
    again = ParseBench(written, kFolder);
  } catch (const BenchError& error) {
    FUZZ_CHECK(false, std::string(error.what()) + "\n" + written);
  }
  FUZZ_CHECK(BenchToJson(again) == written, written);
  return 0;
}

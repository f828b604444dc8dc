// The unit listing and choice over an arbitrary detection array (any
// length, whole records or not) and an arbitrary operator answer. The
// simulated server answers DetectDevices: each 1256 bytes of the array are
// the raw record of one unit, and a badLength fault gives the array exactly
// the length the input asks for; other faults change its element type,
// leave it out or fail the call.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzz/array_fault.h"
#include "fuzz/fuzz_check.h"
#include "server/com_ref.h"
#include "server/select_device.h"
#include "sim/sim_server.h"
#include "tests/run_harness.h"

namespace {

constexpr size_t kMaxArrayBytes = bench_limits::kMaxUnits * kDeviceRecordSize;

const std::set<std::string>& Messages() {
  static const std::set<std::string> messages = {
      "ERROR COMMUNICATING WITH SERVER", "DEVICE DETECT RESPONSE INVALID",
      "NO DEVICES FOUND", "NO DEVICES AVAILABLE TO PROGRAM",
      "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND"};
  return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string target = input.ConsumeBool() ? "W17" : "W3";
  SimFault fault = ArrayFault(input, "DetectDevices");
  const std::string answer = input.ConsumeRandomLengthString(32);
  std::vector<uint8_t> array = input.ConsumeBytes<uint8_t>(kMaxArrayBytes);
  if (fault.action == FaultAction::kBadLength) {
    fault.value = static_cast<int64_t>(array.size());
  }

  SimBench bench;
  for (size_t at = 0; at < array.size(); at += kDeviceRecordSize) {
    SimUnit unit;
    unit.name = "unit" + std::to_string(bench.units.size());
    const size_t end = std::min(array.size(), at + kDeviceRecordSize);
    std::vector<uint8_t> record(array.begin() + at, array.begin() + end);
    record.resize(kDeviceRecordSize);
    unit.rawRecord = std::move(record);
    bench.units.push_back(std::move(unit));
  }
  bench.faults = {fault};
  // A "wrong" element type may be the right one.
  const bool rightType =
      fault.action == FaultAction::kWrongElementType && fault.value == VT_UI1;
  // Without a badLength fault the server answers whole records.
  std::vector<uint8_t> answered = array;
  if (fault.action != FaultAction::kBadLength) {
    answered.resize(bench.units.size() * kDeviceRecordSize);
  }
  SimServer server(std::move(bench));
  ComRef<ProgrammingServer> root;
  *root.Out() = server.NewRoot();

  DeviceRecord chosen;
  PhaseOutcome outcome =
      RunPhase([&] { chosen = SelectDevice(root.get(), target); }, answer);
  ShowOutput(outcome.output);
  if (outcome.stopped) {
    FUZZ_CHECK(outcome.exitCode == 1 && Messages().count(outcome.message),
               outcome.output);
    return 0;
  }
  // A unit may be chosen only from a whole record of the array as it was
  // answered, one that is ready for this code image.
  FUZZ_CHECK(fault.action == FaultAction::kBadLength ||
                 fault.action == FaultAction::kResultCode || rightType,
             outcome.output);
  FUZZ_CHECK(answered.size() % kDeviceRecordSize == 0, outcome.output);
  bool whole = false;
  for (size_t at = 0; at + kDeviceRecordSize <= answered.size();
       at += kDeviceRecordSize) {
    whole = whole || std::memcmp(chosen.bytes, answered.data() + at,
                                 kDeviceRecordSize) == 0;
  }
  FUZZ_CHECK(whole, outcome.output);
  FUZZ_CHECK(chosen.modelName() == target, outcome.output);
  FUZZ_CHECK(chosen.unitState() >= 1000, outcome.output);
  // The answer is read as a decimal number, as strtol reads one.
  FUZZ_CHECK(chosen.serialNumber() == std::strtoll(answer.c_str(), nullptr, 10),
             outcome.output);
  return 0;
}

// The identity choice over an arbitrary word array (any length, whole
// entries or not) and arbitrary names. The simulated server answers: the
// words are the unit's identities, a badLength fault gives the array
// exactly the length the input asks for, and each identity and access level
// named in the array gets a name of the input's, a null name, or none (a
// call the server refuses). Other faults change the array's element type,
// leave it or a name out, or fail a call.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz/array_fault.h"
#include "fuzz/fuzz_check.h"
#include "server/com_ref.h"
#include "server/select_identity.h"
#include "sim/sim_server.h"
#include "tests/run_harness.h"

namespace {

// More entries find nothing new; they only make each run slower.
constexpr size_t kMaxWords = 3 * 64 + 2;

const std::set<std::string>& Messages() {
  static const std::set<std::string> messages = {
      "ERROR COMMUNICATING WITH SERVER", "DEVICE DETECT RESPONSE INVALID",
      "NO IDENTITY WITH SUFFICIENT ACCESS FOUND"};
  return messages;
}

SimName ConsumeName(FuzzedDataProvider& input, bool* known) {
  const int kind = input.ConsumeIntegralInRange(0, 3);
  *known = kind != 3;
  if (kind == 2) return std::nullopt;
  return input.ConsumeRandomLengthString(bench_limits::kMaxNameBytes);
}

SimFault IdentityFault(FuzzedDataProvider& input, size_t words) {
  SimFault fault = ArrayFault(input, "GetIdentities");
  if (fault.action == FaultAction::kBadLength) {
    fault.value = static_cast<int64_t>(words);
  }
  return fault;
}

// A name call that fails or answers no text, now and then.
void AddNameFault(FuzzedDataProvider& input, const char* operation,
                  std::vector<SimFault>* faults) {
  const int kind = input.ConsumeIntegralInRange(0, 3);
  if (kind < 2) return;
  SimFault fault;
  fault.operation = operation;
  fault.call = input.ConsumeIntegralInRange<uint32_t>(1, 8);
  if (kind == 2) {
    fault.action = FaultAction::kEmptyOutput;
  } else {
    fault.action = FaultAction::kResultCode;
    fault.value = input.ConsumeIntegral<uint32_t>();
  }
  faults->push_back(fault);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<uint16_t> words(
      input.ConsumeIntegralInRange<size_t>(0, kMaxWords));
  for (uint16_t& word : words) word = input.ConsumeIntegral<uint16_t>();

  SimUnit unit;
  unit.name = "unit";
  unit.unitKeyA = input.ConsumeIntegral<uint16_t>();
  unit.unitKeyB = input.ConsumeIntegral<uint16_t>();
  // Whole entries, the last filled with zeros; the fault cuts the array.
  for (size_t at = 0; at < words.size(); at += 3) {
    SimIdentity identity;
    identity.identityGroup = words[at];
    identity.identityId = at + 1 < words.size() ? words[at + 1] : 0;
    identity.accessLevel = at + 2 < words.size() ? words[at + 2] : 0;
    unit.identities.push_back(identity);
  }

  SimBench bench;
  bench.faults = {IdentityFault(input, words.size())};
  AddNameFault(input, "GetIdentityName", &bench.faults);
  AddNameFault(input, "GetAccessName", &bench.faults);
  for (size_t at = 0; at + 3 <= words.size(); at += 3) {
    const std::pair<uint16_t, uint16_t> key{words[at], words[at + 1]};
    bool known = false;
    if (!bench.identityNames.count(key)) {
      SimName name = ConsumeName(input, &known);
      if (known) bench.identityNames[key] = name;
    }
    if (!bench.accessLevelNames.count(words[at + 2])) {
      SimName name = ConsumeName(input, &known);
      if (known) bench.accessLevelNames[words[at + 2]] = name;
    }
  }
  bench.units = {unit};
  const FaultAction arrayAction = bench.faults[0].action;
  // A "wrong" element type may be the right one.
  const bool rightType = arrayAction == FaultAction::kWrongElementType &&
                         bench.faults[0].value == VT_UI2;
  // Without a badLength fault the server answers whole entries.
  std::vector<uint16_t> answered = words;
  if (arrayAction != FaultAction::kBadLength) {
    answered.resize(3 * unit.identities.size());
  }

  SimServer server(std::move(bench));
  ComRef<ProgrammingServer> root;
  *root.Out() = server.NewRoot();
  const DeviceRecord record = server.state().Record(0);

  USHORT chosen = 0;
  PhaseOutcome outcome =
      RunPhase([&] { chosen = SelectIdentity(root.get(), record); });
  ShowOutput(outcome.output);
  if (outcome.stopped) {
    FUZZ_CHECK(outcome.exitCode == 1 && Messages().count(outcome.message),
               outcome.output);
    return 0;
  }
  // Returned: the array was whole entries, as answered, and the choice is
  // identity 0 when it has access level 0, otherwise the first that has.
  FUZZ_CHECK(arrayAction == FaultAction::kBadLength ||
                 arrayAction == FaultAction::kResultCode || rightType,
             outcome.output);
  FUZZ_CHECK(answered.size() % 3 == 0, outcome.output);
  bool found = false;
  USHORT expected = 0;
  for (size_t at = 0; at < answered.size(); at += 3) {
    if (answered[at + 2] != 0) continue;
    if (!found || answered[at + 1] == 0) expected = answered[at + 1];
    found = true;
  }
  FUZZ_CHECK(found && chosen == expected, outcome.output);
  return 0;
}

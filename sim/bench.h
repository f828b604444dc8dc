// SimBench: what the simulated programming server knows about the units on
// its bench, as read from a bench folder or built in code by a test.
//
// A bench folder holds bench.json and, per unit whose flash is simulated,
// one file with its code flash and one with its store flash. The JSON
// format is described in sim/bench_json.h.
#ifndef ECUPROG_SIM_BENCH_H
#define ECUPROG_SIM_BENCH_H

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

/// The one way a bench is refused: its message says which bench, which
/// field and what is wrong with it.
class BenchError : public std::runtime_error {
 public:
  explicit BenchError(const std::string& message)
      : std::runtime_error(message) {}
};

/// The unit's two flash regions, each behind its own programming interface.
enum class SimRegion { kCode, kStore };

/// "code" or "store".
const char* RegionName(SimRegion region);

/// One access identity of a unit (an AccessEntry).
struct SimIdentity {
  uint16_t identityGroup = 0;
  uint16_t identityId = 0;
  uint16_t accessLevel = 0;
};

/// A name the server answers with; no value means the server answers with
/// an empty (null) text. Held as UTF-8.
using SimName = std::optional<std::string>;

struct SimUnit {
  /// Unique on the bench; names the unit in messages and in the call log.
  std::string name;

  uint32_t unitAddressA = 0;
  uint32_t unitAddressB = 0;
  uint16_t unitAddressC = 0;
  uint32_t groupKey = 0;
  /// Up to 32 bytes; exactly 32 leaves the record's field without a NUL.
  std::string modelName;
  uint16_t bootBranch = 0;
  uint16_t bootVersion = 0;
  /// What the unit shows at detection. Without simulated flash it is the
  /// state (0 when not given). With simulated flash the unit's boot code
  /// judges its flash at every start and reset: bootable code with an
  /// intact profile for it in the store flash makes it ready
  /// (SimBench::readyState); otherwise it shows this state when given,
  /// SimBench::notReadyState when not.
  std::optional<uint16_t> unitState;
  int32_t serialNumber = 0;
  uint16_t unitKeyA = 0;
  uint16_t unitKeyB = 0;
  /// The release of the code the unit holds; like unitState, used only when
  /// the code flash is not simulated.
  uint16_t unitCodeBranch = 0;
  uint16_t unitCodeVersion = 0;
  uint16_t unitCodeRevision = 0;
  /// Up to 1088 bytes; exactly 1088 leaves the record without its NUL.
  std::string unitLabel;

  std::vector<SimIdentity> identities;
  /// False for a unit whose identities the bench does not know (a unit
  /// listed in a recorded job but not chosen in it): asked for them, the
  /// server fails the call and says why, rather than answer a list the
  /// unit never gave.
  bool identitiesKnown = true;

  /// File names in the bench folder; empty when that flash is not
  /// simulated. A unit's code and store flash are simulated together or
  /// not at all: without them it is listed and opened but has no
  /// programming interfaces.
  std::string codeFlashFile;
  std::string storeFlashFile;

  /// How long an erase runs (wall clock) and how many PollErase calls
  /// answer 17 at least; both must be over before the erase ends.
  uint32_t eraseMs = 0;
  uint32_t erasePolls = 0;
  /// How long a ProgramRegion call takes.
  uint32_t programMs = 0;

  /// When set, DetectDevices shows exactly these 1256 bytes for the unit
  /// (any content, also one no real server would send); the unit is then
  /// found by the address and keys inside them, and the fields above that
  /// the record holds are the record's (TakeRawRecordFields). A unit with
  /// simulated flash shows its state from its flash, and its code release
  /// while its flash boots; the record's other bytes stay as they are.
  std::optional<std::vector<uint8_t>> rawRecord;

  bool flashSimulated() const { return !codeFlashFile.empty(); }
};

/// What a scripted fault does to the call it hits.
enum class FaultAction {
  kResultCode,        ///< the call runs, then answers `value` as its result
  kStatus,            ///< the call does nothing but answer `value` as status
  kEmptyOutput,       ///< success without the interface, array or text
  kWrongElementType,  ///< the array comes with element type `value`
  kBadLength,         ///< the array has `value` elements (a broken count)
  kExit,              ///< the server process ends at this call
  /// The call throws inside the server, as a fault in the server's own code
  /// would: a rehearsal of a server that breaks inside one call and must
  /// answer it with a failure, not end.
  kThrow,
};

/// One scripted fault: hits call number `call` (1-based) of `operation`,
/// counted over `region` when one is given, otherwise over both.
struct SimFault {
  std::string operation;            ///< e.g. "DetectDevices", "PollErase"
  std::optional<SimRegion> region;  ///< programming operations only
  std::optional<uint32_t> call;     ///< no value: every call
  FaultAction action = FaultAction::kResultCode;
  /// kResultCode: the 32-bit result; kStatus: the status word;
  /// kWrongElementType: the element type (VARTYPE); kBadLength: the element
  /// count, where no value means one element more than the true count.
  std::optional<int64_t> value;
  /// kExit on StartErase, PollErase or ProgramRegion: the erase or the
  /// write is half done when the process ends. kStatus on PollErase: the
  /// erase that fails has erased half its sectors.
  bool during = false;
};

/// The operations a fault may name, in the order of the interfaces.
const std::vector<std::string>& SimOperations();

struct SimBench {
  /// The bench folder; flash file names are relative to it. May be empty
  /// when no unit simulates flash.
  std::string folder;

  uint16_t versionMajor = 1;
  uint16_t versionMinor = 5;

  /// The state a unit with simulated flash shows when its code flash holds
  /// a valid code block for its model and its store flash a profile for
  /// that code, and when it does not. A unit whose boot code finds no
  /// bootable code, or code without its profile, waits in it for new code:
  /// a candidate for programming that shows no code release (1000), which
  /// is what lets a job cut short be run again.
  uint16_t readyState = 1001;
  uint16_t notReadyState = 1000;

  std::map<uint16_t, SimName> accessLevelNames;
  /// Keyed by (identityGroup, identityId).
  std::map<std::pair<uint16_t, uint16_t>, SimName> identityNames;

  std::vector<SimUnit> units;
  std::vector<SimFault> faults;
};

/// The limits a bench must keep; ValidateBench enforces them.
namespace bench_limits {
constexpr size_t kMaxUnits = 256;
constexpr size_t kMaxIdentities = 1024;  // per unit
constexpr size_t kMaxNames = 4096;       // per kind
constexpr size_t kMaxNameBytes = 1024;
constexpr size_t kMaxFaults = 1024;
constexpr uint32_t kMaxDurationMs = 10 * 60 * 1000;
constexpr uint32_t kMaxErasePolls = 1000000;
constexpr size_t kMaxUnitNameBytes = 64;
constexpr size_t kMaxJsonBytes = 16 * 1024 * 1024;
constexpr int kMaxJsonDepth = 32;
}  // namespace bench_limits

/// Sets the fields of a unit with a raw record that the record holds
/// (address, group key, model, boot, serial, keys, label; for a unit
/// without simulated flash also its state and code release) to what the
/// record shows, so that every part of the server sees one unit. Does
/// nothing for a unit without one, or a raw record of another size.
void TakeRawRecordFields(SimUnit& unit);

/// Checks what the types alone do not: unique unit names, units apart
/// (sim/unit_addresses.h), safe flash file names, text sizes, counts,
/// durations and that each fault fits its operation. Throws BenchError.
void ValidateBench(const SimBench& bench);

#endif  // ECUPROG_SIM_BENCH_H

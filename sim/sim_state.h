// SimState: the running simulated server behind all of its objects: the
// bench, what each unit currently shows, running erases, scripted faults,
// and the record of everything it was asked, for tests to inspect.
//
// Shared by every object the server hands out (root, device and
// programming interfaces), so they all see one bench. Calls come one at a
// time: every method of those objects runs under callLock()
// (sim/sim_call.h), which the server's own end takes too
// (FinishRunningErases), since on Windows COM answers the client on threads
// of its own while the main thread watches for the end of the job.
#ifndef ECUPROG_SIM_SIM_STATE_H
#define ECUPROG_SIM_SIM_STATE_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows_api.h"
#include "server/device_record.h"
#include "sim/bench.h"
#include "sim/flash_file.h"
#include "sim/record_writer.h"
#include "sim/unit_lock.h"

/// Status words a simulated unit answers with besides 0 (done) and 17
/// (busy). Any of them is a refusal to the tool.
constexpr USHORT kSimStatusWrongGroupKey = 2;  ///< AcquireGroup, key unknown
constexpr USHORT kSimStatusRefused = 3;     ///< outside the flash, or a write
                                            ///< over flash that is not erased
constexpr USHORT kSimStatusBusy = 4;        ///< an erase is still running
constexpr USHORT kSimStatusNoGroup = 5;     ///< no programming group held
constexpr USHORT kSimStatusFlashFault = 6;  ///< the flash file failed

/// What a client of a server that has ended sees: the call that was running
/// fails, and so does every later one.
constexpr HRESULT kSimCallFailed = static_cast<HRESULT>(0x800706BE);
constexpr HRESULT kSimDisconnected = static_cast<HRESULT>(0x80010108);

/// The call log keeps this many calls; counting goes on past it, so a
/// client polling a long erase without pause cannot exhaust memory.
constexpr size_t kSimMaxLoggedCalls = 1000000;

/// The exit code of the server process when an exit fault strikes.
constexpr int kSimExitCode = 3;

/// One call the server received, as tests inspect it. Final releases of the
/// server's objects are recorded too, as operation "Release".
struct SimCall {
  std::string operation;
  /// The unit the call concerned, when it concerned one.
  std::string unit;
  std::optional<SimRegion> region;
  /// The numeric arguments in order: OpenDevice: unitAddressA;
  /// GetIdentities: unitKeyA, unitKeyB and the three constants;
  /// GetAccessName: accessLevel; GetIdentityName: group, id;
  /// SetProfile and ProgramRegion: (start, length,) element count, lower
  /// bound, element type; GetCode/StoreProgrammer: unitKeyA, identityId;
  /// AcquireGroup: groupKey; StartErase: start, length.
  std::vector<int64_t> args;
  /// OpenDevice: the six address bytes after unitAddressA, as received;
  /// AcquireGroup: the 16 bytes of the group identifier.
  std::vector<uint8_t> bytes;
};

/// The kinds of objects the server hands out, for lifetime checks.
enum class SimObjectKind {
  kRoot,
  kDevice,
  kCodeProgrammer,
  kStoreProgrammer,
  kIdentity
};

/// The lock one call of the server holds while it runs. Calls seldom wait
/// for it: the client makes one at a time, and only the server's own end
/// can meet a call still running, so a waiter sleeps a millisecond between
/// tries. (Not std::mutex: MinGW's win32 thread model has none.)
class SimCallLock {
 public:
  void Take() noexcept {
    while (held_.exchange(true, std::memory_order_acquire)) Sleep(1);
  }
  void Give() noexcept { held_.store(false, std::memory_order_release); }

  /// Holds the lock from its making to its end.
  class Held {
   public:
    explicit Held(SimCallLock& lock) noexcept : lock_(lock) { lock_.Take(); }
    ~Held() { lock_.Give(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    SimCallLock& lock_;
  };

 private:
  std::atomic<bool> held_{false};
};

class SimState {
 public:
  /// Starts the server on `bench`: validates it, creates missing flash
  /// files erased (a unit whose flash file cannot be made or has another
  /// size is refused, see FlashFault), and lets every unit with simulated flash
  /// judge its code and store flash, as at power-up: a job cut short before its
  /// reset shows what its flash holds now at the next start. Throws BenchError.
  explicit SimState(SimBench bench);

  const SimBench& bench() const { return bench_; }

  /// The bench read when a call first needs it, in place of the one the
  /// server started on: a server COM starts for a check of what it
  /// reaches (IID_SimulatedServer) then never reads, makes or holds one.
  void SetBenchLoader(std::function<SimBench()> loader);
  /// Reads the bench through the loader, once. False when that failed
  /// (the BenchError is reported, see SetReportHook), now or before.
  bool EnsureBench();
  bool benchFailed() const { return benchFailed_; }

  /// The executable that serves, as the simulator's identity tells it
  /// (empty in process).
  const std::string& serverPath() const { return serverPath_; }
  void SetServerPath(std::string path) { serverPath_ = std::move(path); }

  // ------------------------------------------------------------ inspection
  /// Every call so far, in order (the first kSimMaxLoggedCalls).
  std::vector<SimCall> Calls() const;
  /// The calls of one operation, in order.
  std::vector<SimCall> Calls(const std::string& operation) const;
  /// How often `operation` was called (over `region` when given). Counts
  /// every call, also those a fault struck.
  uint32_t CallCount(const std::string& operation,
                     std::optional<SimRegion> region = std::nullopt) const;
  /// The last profile handed to SetProfile, byte for byte.
  std::optional<std::vector<uint8_t>> Profile() const;
  /// What the unit shows at detection now.
  UnitCondition Condition(const std::string& unitName) const;
  /// The unit's flash region as it is now. Throws BenchError.
  std::vector<uint8_t> ReadFlash(const std::string& unitName,
                                 SimRegion region) const;
  /// Objects handed out and not yet released.
  int LiveObjects(SimObjectKind kind) const;
  /// Whether the client's request for the server has been answered (with
  /// an object or without): from then on, no live object means the job is
  /// over, however soon the client let go.
  bool clientServed() const { return clientServed_; }
  void NoteClientServed() { clientServed_ = true; }
  /// Set once an exit fault has struck: the server has ended.
  std::optional<int> exitCode() const;

  /// What happens when an exit fault strikes, after the server has stopped
  /// answering. In process the default does nothing more, so a test
  /// survives and sees its calls fail as with a server that went away; the
  /// server executable ends its process here.
  void SetExitHook(std::function<void(int exitCode)> hook);

  /// Where the server tells its user about a fault in the bench that a job
  /// sees only as a refusal. By default the error output, as
  /// "ecuprog-sim: <message>".
  void SetReportHook(std::function<void(const std::string&)> hook);
  void Report(const std::string& message) const;

  // ------------------------------------------------- for the server objects
  /// Records and counts a call and finds its scripted fault. Returns a
  /// failure the caller must answer at once when the server has ended
  /// before or at this call (an exit fault without "during"); otherwise S_OK
  /// with `*fault` the fault to apply, or nullptr. A throw fault throws
  /// std::runtime_error once the call is recorded.
  HRESULT Enter(SimCall call, const SimFault** fault);
  /// Ends the server now (an exit fault "during" a step); returns the
  /// failure the call answers.
  HRESULT ExitNow();
  /// The result a call answers after it has done its work: the fault's
  /// result code when a resultCode fault struck, otherwise S_OK.
  static HRESULT Result(const SimFault* fault);

  void RecordRelease(SimObjectKind kind, const std::string& unit) noexcept;
  void CountObject(SimObjectKind kind, int delta);

  size_t unitCount() const { return bench_.units.size(); }
  const SimUnit& unit(size_t index) const { return bench_.units[index]; }
  /// The records DetectDevices answers with, in bench order.
  std::vector<DeviceRecord> Records() const;
  DeviceRecord Record(size_t unitIndex) const;

  /// The unit's flash region, or nullptr when it simulates none.
  const FlashFile* Flash(size_t unitIndex, SimRegion region) const;
  /// Why the unit's flash files cannot be used, naming the file and what
  /// it should hold; empty when they can. Such a unit boots nothing and
  /// grants no programming group.
  const std::string& FlashFault(size_t unitIndex) const;

  /// An erase the unit is carrying out on one region.
  struct Erase {
    uint32_t start = 0;
    uint32_t length = 0;
    std::chrono::steady_clock::time_point ends;
    uint32_t polls = 0;
  };
  std::optional<Erase>& RunningErase(size_t unitIndex, SimRegion region);

  /// The unit reads its code and store flash anew, as after a reset.
  void Restart(size_t unitIndex);

  /// The server ends with its client gone: every erase a unit is carrying
  /// out runs to its end, as a unit finishes an erase it was given whether
  /// or not anyone polls. A server ended by an exit fault stands for a cut
  /// and finishes nothing. From then on every call is answered as by an
  /// ended server (kSimDisconnected): a client that went away without
  /// letting go may still have a call on its way. Waits for a call being
  /// served to end first. Returns the flash files that could not be written
  /// (empty when every erase was finished).
  std::vector<std::string> FinishRunningErases();

  /// Held while a method of the server's objects runs (sim/sim_call.h).
  SimCallLock& callLock() { return callLock_; }

  void KeepProfile(std::vector<uint8_t> profile);

  /// The units this server holds against other jobs (sim/unit_lock.h).
  UnitLocks& unitLocks() { return unitLocks_; }

 private:
  void Log(SimCall call);
  void Start(SimBench bench);

  struct UnitRuntime {
    UnitCondition condition;
    std::unique_ptr<FlashFile> code;
    std::unique_ptr<FlashFile> store;
    std::optional<Erase> erase[2];
    std::string flashFault;
  };

  size_t UnitIndex(const std::string& unitName) const;

  SimBench bench_;
  std::function<SimBench()> benchLoader_;
  bool benchFailed_ = false;
  std::string serverPath_;
  std::vector<UnitRuntime> units_;

  std::vector<SimCall> calls_;
  std::map<std::string, uint32_t> counts_;  // "op" and "op/region"
  std::optional<std::vector<uint8_t>> profile_;
  std::map<SimObjectKind, int> live_;
  std::optional<int> exitCode_;
  std::function<void(int)> exitHook_;
  std::function<void(const std::string&)> reportHook_;
  UnitLocks unitLocks_;
  std::atomic<bool> clientServed_{false};
  SimCallLock callLock_;
  bool ended_ = false;  // FinishRunningErases has run
};

#endif  // ECUPROG_SIM_SIM_STATE_H

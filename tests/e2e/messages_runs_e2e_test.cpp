// The operator's guide (MESSAGES.txt) held to the runs: every message it
// explains is provoked, and what the run left on the unit's flash is
// compared with the entry's "Unit:" line. Whatever a server can make happen
// (a failure at a call, a bad answer, a refusal, another job on the unit, a
// server that ends half-way) runs as a whole job against the simulator;
// what no server can cause (the firmware inside the program, COM, memory)
// is provoked in this process, in the job itself, against a simulated
// server of its own. A claim a run contradicts fails, and so does an entry
// that no run reaches. The guide's words on the progress lines (a refused
// erase against one that had begun, "already blank") and on a run ended
// from outside, with no message, are held to runs in the same way.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "blocks/code_image.h"
#include "blocks/profile_block.h"
#include "driver/run.h"
#include "platform/posix/array_shortage.h"
#include "report/memory_console.h"
#include "server/connect_server.h"
#include "sim/bench_json.h"
#include "sim/default_bench.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"
#include "tests/address_sanitizer.h"
#include "tests/blocks/block_builder.h"
#include "tests/e2e/guide_claims.h"
#include "tests/e2e/job_checks.h"
#include "tests/e2e/process_runner.h"
#include "tests/messages_guide.h"
#include "tests/run_harness.h"

namespace {

constexpr auto kCode = SimRegion::kCode;
constexpr auto kStore = SimRegion::kStore;
constexpr int64_t kRefusal = 5;  // a status that is neither done nor busy
constexpr int64_t kBusy = 17;

class GuideAgainstRuns : public testing::Test {
 protected:
  void SetUp() override {
    BuildCrcTable();
    for (const GuideEntry& entry : SourceGuide()) {
      guide_[entry.message] = entry;
    }
    registry_ = folder_.path() + "/registry";
    bench_ = folder_.path() + "/bench";
    // The tool in this process finds the same server as the whole jobs.
    setenv("ECUPROG_COM_REGISTRY", registry_.c_str(), 1);
    setenv("ECUPROG_SIM_BENCH", bench_.c_str(), 1);
    ProcessSetup registration;
    registration.argv = {ECUPROG_SIM_PATH, "--register"};
    registration.environment = Environment();
    registration.terminal = false;
    ASSERT_EQ(RunProcess(registration).exitCode, 0);
    image_ = EmbeddedCodeImage();
    profile_ = EmbeddedProfile();
  }

  void TearDown() override {
    unsetenv("ECUPROG_COM_REGISTRY");
    unsetenv("ECUPROG_SIM_BENCH");
  }

  std::vector<std::pair<std::string, std::string>> Environment() const {
    return {{"ECUPROG_COM_REGISTRY", registry_}, {"ECUPROG_SIM_BENCH", bench_}};
  }

  // A fresh instant default bench, changed by `change`.
  SimBench FreshBench(const std::function<void(SimBench&)>& change) {
    std::filesystem::remove_all(bench_);
    SimBench bench = WriteDefaultBench(bench_, BenchTiming::kInstant);
    if (change) change(bench);
    SaveBench(bench);
    codeBefore_ = ReadFile(CodeFile());
    storeBefore_ = ReadFile(StoreFile());
    return bench;
  }

  std::string CodeFile() const { return bench_ + "/w3-bay1-code.bin"; }
  std::string StoreFile() const { return bench_ + "/w3-bay1-store.bin"; }

  // The screen and the flash after a run, against the firmware it carried.
  Observation Observe(const std::string& screen, int exitCode,
                      const std::vector<uint8_t>& image,
                      const std::vector<uint8_t>& profile) {
    // The servers the run started finish what they were doing first.
    for (int pid : ChildrenOf(getpid())) WaitUntilGone(pid, 10);
    Observation seen;
    SplitAtMessage(WithoutCarriageReturns(screen), &seen);
    seen.exitCode = exitCode;
    const std::vector<uint8_t> code = ReadFile(CodeFile());
    const std::vector<uint8_t> store = ReadFile(StoreFile());
    seen.changed = code != codeBefore_ || store != storeBefore_;
    seen.written = HoldsFirmware(code, store, image, profile);
    return seen;
  }

  // What each flash holds after a run, against before it and against the
  // firmware the tool carries.
  struct FlashAfter {
    bool codeChanged;
    bool storeChanged;
    bool codeWritten;  // the carried code image, restamped
    bool written;      // and the profile
  };
  FlashAfter Flash() const {
    const std::vector<uint8_t> code = ReadFile(CodeFile());
    const std::vector<uint8_t> store = ReadFile(StoreFile());
    return {code != codeBefore_, store != storeBefore_,
            HoldsFirmware(code, {}, image_, {}),
            HoldsFirmware(code, store, image_, profile_)};
  }

  // Holds the run to the guide's entry for the message it was to end with.
  void Judge(const std::string& way, const std::string& name,
             const std::string& expected, const Observation& seen) {
    SCOPED_TRACE(way + ": " + name);
    ASSERT_EQ(seen.message, expected) << seen.before;
    EXPECT_EQ(seen.exitCode, expected == "PROGRAMMING SUCCESSFUL" ? 0 : 1);
    const auto entry = guide_.find(expected);
    ASSERT_NE(entry, guide_.end()) << "the guide has no entry";
    const StopPlace place = PlaceOf(seen.before);
    const std::string wrong = GuideContradiction(entry->second, seen);
    EXPECT_EQ(wrong, "") << seen.before;
    EXPECT_EQ(RecordContradiction(entry->second, seen, TakeRecord(expected)),
              "")
        << seen.before;
    checks_[expected].push_back(way + " (" + name + ", " + PlaceName(place) +
                                ")");
  }

  // The record of the run that ended with `message` (any, for ""): of
  // those the runs since the last call have left, and those left over from
  // then (two jobs side by side). Empty when no record says so.
  std::vector<nlohmann::json> TakeRecord(const std::string& message) {
    const std::string folder =
        std::string(getenv("XDG_STATE_HOME")) + "/ecuprog/records";
    std::error_code missing;
    for (const auto& file :
         std::filesystem::directory_iterator(folder, missing)) {
      if (!records_.insert(file.path().string()).second) continue;
      std::vector<nlohmann::json> lines;
      std::ifstream in(file.path());
      for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::json::parse(line));
      }
      unjudged_.push_back(lines);
    }
    for (auto it = unjudged_.begin(); it != unjudged_.end(); ++it) {
      if (message.empty() ||
          (!it->empty() && it->back().value("message", "") == message)) {
        std::vector<nlohmann::json> record = *it;
        unjudged_.erase(it);
        if (message.empty()) unjudged_.clear();
        return record;
      }
    }
    unjudged_.clear();
    return {};
  }

  TempFolder folder_;
  std::set<std::string> records_;
  std::vector<std::vector<nlohmann::json>> unjudged_;
  std::string registry_;
  std::string bench_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> profile_;
  std::vector<uint8_t> codeBefore_;
  std::vector<uint8_t> storeBefore_;
  std::map<std::string, GuideEntry> guide_;
  std::map<std::string, std::vector<std::string>> checks_;
  // By whole job's name: its last line on the screen, and the flash after.
  std::map<std::string, std::pair<std::string, FlashAfter>> jobs_;
};

// The line a screen ends on, before its message.
std::string LastLine(const std::string& before) {
  const size_t start = before.rfind('\n');
  return start == std::string::npos ? before : before.substr(start + 1);
}

// The text with every run of blanks and line ends as one blank.
std::string Words(const std::string& text) {
  std::string words;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\n' || c == '\r';
    if (blank && (words.empty() || words.back() == ' ')) continue;
    words += blank ? ' ' : c;
  }
  return words;
}

// ---------------------------------------------------------------------------
// Whole jobs: the tool and the simulator in their own processes.

SimFault Fault(const char* operation, std::optional<SimRegion> region,
               FaultAction action, std::optional<int64_t> value = {},
               bool during = false) {
  return {operation, region, 1u, action, value, during};
}

using BenchChange = std::function<void(SimBench&)>;

BenchChange WithFault(SimFault fault) {
  return [fault](SimBench& bench) { bench.faults = {fault}; };
}

struct JobCase {
  const char* name;
  const char* message;
  BenchChange change;
  const char* serial = "4711";
  /// The ready unit's line in the next run's listing, where it matters:
  /// the listing alone does not tell a finished job.
  const char* listedAfter = nullptr;
};

constexpr const char* kNewRelease =
    "Found : W3#4711 (Simulated test cell 1) BootV1.40 CodeV1.463.1\n";
constexpr const char* kWaitingForCode =
    "Found : W3#4711 (Simulated test cell 1) BootV1.40\n";

const int64_t kFailure = static_cast<int32_t>(0x80004005);

const JobCase kJobs[] = {
    {"a whole job", "PROGRAMMING SUCCESSFUL", nullptr, "4711", kNewRelease},
    // A failure code or a server that ends, at calls all along the job.
    {"CreateInstance fails", "ERROR COMMUNICATING WITH SERVER",
     WithFault(
         Fault("CreateInstance", {}, FaultAction::kResultCode, kFailure))},
    {"DetectDevices fails", "ERROR COMMUNICATING WITH SERVER",
     WithFault(Fault("DetectDevices", {}, FaultAction::kExit))},
    {"GetIdentities fails", "ERROR COMMUNICATING WITH SERVER",
     WithFault(Fault("GetIdentities", {}, FaultAction::kResultCode, kFailure))},
    {"code AcquireGroup fails", "ERROR COMMUNICATING WITH SERVER",
     WithFault(Fault("AcquireGroup", kCode, FaultAction::kExit))},
    {"server ends during the code erase", "ERROR COMMUNICATING WITH SERVER",
     WithFault(Fault("PollErase", kCode, FaultAction::kExit, {}, true))},
    {"code ProgramRegion fails", "ERROR COMMUNICATING WITH SERVER",
     WithFault(
         Fault("ProgramRegion", kCode, FaultAction::kResultCode, kFailure))},
    {"store AcquireGroup fails", "ERROR COMMUNICATING WITH SERVER",
     WithFault(Fault("AcquireGroup", kStore, FaultAction::kExit))},
    {"server ends during the store write", "ERROR COMMUNICATING WITH SERVER",
     WithFault(Fault("ProgramRegion", kStore, FaultAction::kExit, {}, true)),
     "4711", kWaitingForCode},
    {"ResetDevice fails", "ERROR COMMUNICATING WITH SERVER",
     WithFault(Fault("ResetDevice", {}, FaultAction::kResultCode, kFailure))},
    {"server ends at the reset", "ERROR COMMUNICATING WITH SERVER",
     WithFault(Fault("ResetDevice", {}, FaultAction::kExit))},
    // The server's answers.
    {"server 1.4", "UNABLE TO CONTINUE - REQUIRE SERVER VERSION 1.5+",
     [](SimBench& bench) { bench.versionMinor = 4; }},
    {"no units", "NO DEVICES FOUND",
     [](SimBench& bench) { bench.units.clear(); }},
    {"no ready W3 unit", "NO DEVICES AVAILABLE TO PROGRAM",
     [](SimBench& bench) {
       // 4711 gone, and 4716 not released for programming.
       bench.units.erase(bench.units.begin());
       bench.units.back().unitState = 900;
     }},
    {"a serial not listed",
     "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES "
     "FOUND",
     nullptr, "4712"},
    {"units with a broken count", "DEVICE DETECT RESPONSE INVALID",
     WithFault(Fault("DetectDevices", {}, FaultAction::kBadLength))},
    {"identities of the wrong type", "DEVICE DETECT RESPONSE INVALID",
     WithFault(
         Fault("GetIdentities", {}, FaultAction::kWrongElementType, VT_I4))},
    {"no full access", "NO IDENTITY WITH SUFFICIENT ACCESS FOUND",
     [](SimBench& bench) {
       for (SimIdentity& identity : bench.units[0].identities) {
         identity.accessLevel = 1;
       }
     }},
    {"no device", "COULD NOT ACQUIRE DEVICE INTERFACE",
     WithFault(Fault("OpenDevice", {}, FaultAction::kEmptyOutput))},
    {"no code programmer", "COULD NOT ACQUIRE CODE PROGRAMMING INTERFACE",
     WithFault(Fault("GetCodeProgrammer", {}, FaultAction::kEmptyOutput))},
    {"no store programmer", "COULD NOT ACQUIRE STORE PROGRAMMING INTERFACE",
     WithFault(Fault("GetStoreProgrammer", {}, FaultAction::kEmptyOutput))},
    {"boot branch 0", "BOOT CODE BRANCH TOO LOW FOR THIS CODE",
     [](SimBench& bench) { bench.units[0].bootBranch = 0; }},
    {"boot 1.37", "BOOT CODE VERSION TOO LOW FOR THIS CODE",
     [](SimBench& bench) { bench.units[0].bootVersion = 37; }},
    // The unit's refusals.
    {"code group refused", "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE",
     WithFault(Fault("AcquireGroup", kCode, FaultAction::kStatus, kRefusal))},
    {"store group refused",
     "COULD NOT ACQUIRE STORE PROGRAMMING GROUP AT DEVICE",
     WithFault(Fault("AcquireGroup", kStore, FaultAction::kStatus, kRefusal))},
    {"code erase refused", "CODE FLASH ERASE FAILED",
     WithFault(Fault("StartErase", kCode, FaultAction::kStatus, kRefusal))},
    // The erase fails part-way: half its sectors are erased.
    {"code erase fails", "CODE FLASH ERASE FAILED",
     WithFault(
         Fault("PollErase", kCode, FaultAction::kStatus, kRefusal, true))},
    {"store erase refused", "STORE FLASH ERASE FAILED",
     WithFault(Fault("StartErase", kStore, FaultAction::kStatus, kRefusal))},
    {"store erase fails", "STORE FLASH ERASE FAILED",
     WithFault(
         Fault("PollErase", kStore, FaultAction::kStatus, kRefusal, true))},
    {"code write fails", "CODE FLASH PROGRAM FAILED",
     WithFault(Fault("ProgramRegion", kCode, FaultAction::kStatus, kRefusal))},
    {"store write fails", "STORE FLASH PROGRAM FAILED",
     WithFault(Fault("ProgramRegion", kStore, FaultAction::kStatus, kRefusal))},
    {"reset refused", "RESET REJECTED",
     WithFault(Fault("ResetDevice", {}, FaultAction::kStatus, kRefusal)),
     "4711", kNewRelease},
};

ProcessSetup JobSetup(
    const std::vector<std::pair<std::string, std::string>>& environment,
    const std::string& serial) {
  ProcessSetup job;
  job.argv = {ECUPROG_PATH};
  job.environment = environment;
  job.terminal = false;
  job.pipeInput = true;
  job.input = serial + "\n";
  job.timeoutSeconds = 60;
  return job;
}

// ---------------------------------------------------------------------------
// In this process: the job itself, with the firmware, COM or memory made
// to fail where no server could.

// A console that, once `trigger` has been written, makes an allocation of
// the run fail there: it calls the run's new-handler, as operator new does.
class ShortageConsole : public MemoryConsole {
 public:
  ShortageConsole(std::string input, std::string trigger)
      : MemoryConsole(std::move(input)), trigger_(std::move(trigger)) {}

  void Write(const char* text, size_t length) override {
    MemoryConsole::Write(text, length);
    Strike();
  }
  void WriteWide(const OLECHAR* text, size_t length) override {
    MemoryConsole::WriteWide(text, length);
    Strike();
  }

 private:
  void Strike() {
    if (struck_ || trigger_.empty()) return;
    if (output().find(trigger_) == std::string::npos) return;
    struck_ = true;
    if (std::new_handler handler = std::get_new_handler()) handler();
  }

  std::string trigger_;
  bool struck_ = false;
};

struct InProcessCase {
  const char* name;
  const char* message;
  std::function<void(FirmwareResources&)> firmware = nullptr;  // the real one
  BenchChange change = nullptr;
  const char* shortageAt = "";  // OUT OF MEMORY once this is on the screen
  uint64_t refusedArray = 0;    // bytes; see RefuseSafeArrayOfSize
  unsigned refusedAfter = 0;
  bool comTaken = false;  // COM already initialised on this thread
  uint32_t giveUpAfterMs = kErasePolling.giveUpAfterMs;
};

ImageEntry CodeWith(const Edit& edit, bool fixChecksum = true) {
  Block image = ValidCodeImage();
  edit(image);
  if (fixChecksum) FixChecksum(image);
  return ImageEntry{Deflate(image)};
}

ImageEntry ProfileWith(const Edit& edit, uint32_t length = 4096,
                       bool fixChecksum = true) {
  Block profile = ValidProfile(length);
  edit(profile);
  if (fixChecksum) FixChecksum(profile);
  return ImageEntry{profile};
}

void Keep(Block&) {}

// Firmware whose code block is `code` and whose profile is a valid one.
std::function<void(FirmwareResources&)> Code(ImageEntry code) {
  return [code](FirmwareResources& resources) {
    resources.Put(kCodeResourceId, code);
    resources.Put(kProfileResourceId, ImageEntry{ValidProfile()});
  };
}

std::function<void(FirmwareResources&)> Profile(ImageEntry profile) {
  return [profile](FirmwareResources& resources) {
    resources.Put(kCodeResourceId, CodeWith(Keep));
    resources.Put(kProfileResourceId, profile);
  };
}

constexpr size_t kHeader = kCodeHeaderOffset;

std::vector<InProcessCase> InProcessCases(size_t imageLength,
                                          size_t profileLength) {
  // A released block may end in up to three bytes after its last whole
  // word: it loads, but no checksum in its last four bytes can cover it.
  Block partWords = ValidCodeImage();
  partWords.insert(partWords.end(), {0xAA, 0xBB, 0xCC});
  SetU32(partWords, kHeader + 8, 0x00010000 + 4099 - 1);
  FixChecksum(partWords);

  const auto every = [](const char* operation, SimRegion region) {
    return [=](SimBench& bench) {
      bench.faults = {{operation, region, std::nullopt, FaultAction::kStatus,
                       kBusy, false}};
    };
  };
  return {
      {"code missing", "CODE RESOURCE NOT FOUND", Code(ImageEntry::Missing())},
      {"code 1023 bytes", "CODE RESOURCE TOO SMALL",
       Code(ImageEntry{Block(1023, 0x78)})},
      {"code load refused", "COULD NOT LOAD CODE RESOURCE",
       Code(ImageEntry::RefusingLoad(CodeWith(Keep).bytes))},
      {"code without pointer", "COULD NOT LOCK CODE RESOURCE",
       Code(ImageEntry::WithoutPointer(CodeWith(Keep).bytes))},
      {"profile missing", "PROFILE RESOURCE NOT FOUND",
       Profile(ImageEntry::Missing())},
      {"profile 1023 bytes", "PROFILE RESOURCE TOO SMALL",
       Profile(ProfileWith(Keep, 1023))},
      {"profile load refused", "COULD NOT LOAD PROFILE RESOURCE",
       Profile(ImageEntry::RefusingLoad(ValidProfile()))},
      {"profile without pointer", "COULD NOT LOCK PROFILE RESOURCE",
       Profile(ImageEntry::WithoutPointer(ValidProfile()))},
      {"code all zero", "CODE DECOMPRESSION FAILED",
       Code(ImageEntry{Block(2048, 0)})},
      {"code stored", "CODE DECOMPRESSION DIDN'T!!!",
       Code(ImageEntry{Deflate(ValidCodeImage(), 0)})},
      {"code checksum", "CODE BLOCK CRC CHECK FAILED",
       Code(CodeWith(SetByteAt(2000, 0x10), false))},
      {"code magic", "BAD CODE BLOCK MAGIC",
       Code(CodeWith(SetU16At(kHeader, 0xC0DF)))},
      {"code type", "NOT A CODE BLOCK",
       Code(CodeWith(SetU16At(kHeader + 2, 3)))},
      {"code for W31", "NOT W3/W17 CODE",
       Code(CodeWith(SetTargetAt(kHeader, "W31")))},
      {"code start", "CODE BLOCK START FIELD INCORRECT",
       Code(CodeWith(SetU32At(kHeader + 4, 0x00020000)))},
      {"code end", "CODE BLOCK END FIELD INCORRECT",
       Code(CodeWith(SetU32At(kHeader + 8, 0x00010000 + 4096)))},
      {"code header X 2", "UNKNOWN CODE HEADER X VERSION",
       Code(CodeWith(SetByteAt(kHeader + 0x32, 2)))},
      {"code header Y 4", "UNKNOWN CODE HEADER Y VERSION",
       Code(CodeWith(SetByteAt(kHeader + 0x33, 4)))},
      {"profile checksum", "PROFILE CRC CHECK FAILED",
       Profile(ProfileWith(SetByteAt(100, 0), 4096, false))},
      {"profile 262144 bytes", "PROFILE TOO LARGE",
       Profile(ProfileWith(Keep, 262144))},
      {"profile magic", "BAD BLOCK MAGIC",
       Profile(ProfileWith(SetU16At(0, 0xDEC0)))},
      {"profile type", "NOT A PROFILE BLOCK",
       Profile(ProfileWith(SetU16At(2, 1)))},
      {"profile for W17", "PROFILE/CODE MISMATCH",
       Profile(ProfileWith(SetTargetAt(0, "W17")))},
      {"profile start", "PROFILE BLOCK START FIELD INCORRECT",
       Profile(ProfileWith(SetU32At(4, 0x10000)))},
      {"profile end", "PROFILE BLOCK END FIELD INCORRECT",
       Profile(ProfileWith(SetU32At(8, 4096)))},
      {"profile header X 2", "UNKNOWN PROFILE HEADER X VERSION",
       Profile(ProfileWith(SetByteAt(0x32, 2)))},
      {"profile header Y 1", "UNKNOWN PROFILE HEADER Y VERSION",
       Profile(ProfileWith(SetByteAt(0x33, 1)))},
      {"profile branch", "PROFILE/CODE BRANCH MISMATCH",
       Profile(ProfileWith(SetU16At(0x34, 2)))},
      {"profile version", "PROFILE/CODE VERSION MISMATCH",
       Profile(ProfileWith(SetU16At(0x36, 462)))},
      {"profile revisions", "PROFILE/CODE REVISION MISMATCH",
       Profile(ProfileWith([](Block& p) {
         SetU16(p, 0x3A, 2);
         SetU16(p, 0x38, 2);
       }))},
      {"COM taken", "FAILED TO INITIALISE COM", nullptr, nullptr, "", 0, 0,
       true},
      {"code ends after its last word", "CRC REGENERATION FAILED",
       Code(ImageEntry{Deflate(partWords)})},
      {"no memory for the profile array", "COULD NOT CREATE PROFILE ARRAY",
       nullptr, nullptr, "", profileLength, 0},
      {"no memory for the code transfer",
       "COULD NOT CREATE CODE FLASH TRANSFER ARRAY", nullptr, nullptr, "",
       imageLength, 0},
      {"no memory for the store transfer",
       "COULD NOT CREATE STORE FLASH TRANSFER ARRAY", nullptr, nullptr, "",
       profileLength, 1},
      {"code erase never ends", "CODE FLASH ERASE TIMED OUT", nullptr,
       every("PollErase", kCode), "", 0, 0, false, 300},
      {"store erase never ends", "STORE FLASH ERASE TIMED OUT", nullptr,
       every("PollErase", kStore), "", 0, 0, false, 300},
      {"short of memory at the release line", "OUT OF MEMORY", nullptr, nullptr,
       "firmware release"},
      {"short of memory at the identities", "OUT OF MEMORY", nullptr, nullptr,
       "Access as "},
      {"short of memory in the code erase", "OUT OF MEMORY", nullptr, nullptr,
       "erasing ... "},
      {"short of memory at the reset", "OUT OF MEMORY", nullptr, nullptr,
       "Reset request ... "},
  };
}

// In a process of its own with its address space cut to what the
// inflater needs: the image the inflated block goes into cannot be had.
// The run's memory handler is not in place, as before the job starts it.
std::string LoadImageShortOfMemory() {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    constexpr uint32_t kLength = 64 << 20;
    FirmwareResources resources;
    resources.Put(kCodeResourceId, ImageEntry{Deflate(Block(kLength, 0))});
    rlimit space{};
    getrlimit(RLIMIT_AS, &space);
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
      std::fclose(statm);
    }
    const size_t used = static_cast<size_t>(pages) * 4096;
    space.rlim_cur = used + kLength + kLength / 2;
    setrlimit(RLIMIT_AS, &space);
    const PhaseOutcome outcome = RunPhase([] { LoadCodeImage(); });
    const ssize_t written =
        write(pipeEnds[1], outcome.output.data(), outcome.output.size());
    _exit(written < 0 ? 2 : 0);
  }
  close(pipeEnds[1]);
  std::string screen;
  char buffer[512];
  for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    screen.append(buffer, static_cast<size_t>(n));
  }
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return screen;
}

TEST_F(GuideAgainstRuns, EveryEntryHoldsForTheRunsThatEndWithIt) {
  // First, while this process has started no threads of its own.
#ifdef ECUPROG_ADDRESS_SANITIZER
  const bool addressSpaceLimited = false;  // the sanitizer needs it all
#else
  const bool addressSpaceLimited = true;
#endif
  if (addressSpaceLimited) {
    Observation seen;
    SplitAtMessage(LoadImageShortOfMemory(), &seen);
    seen.exitCode = 1;
    Judge("in process", "no memory for the inflated image",
          "COULD NOT ALLOCATE CODE IMAGE", seen);
  } else {
    checks_["COULD NOT ALLOCATE CODE IMAGE"].push_back(
        "not here: the address sanitizer needs the address space");
  }

  for (const JobCase& job : kJobs) {
    FreshBench(job.change);
    const ProcessResult result =
        RunProcess(JobSetup(Environment(), job.serial));
    ASSERT_FALSE(result.timedOut) << job.name << "\n" << result.output;
    const Observation seen =
        Observe(result.output, result.exitCode, image_, profile_);
    Judge("whole job", job.name, job.message, seen);
    jobs_[job.name] = {LastLine(seen.before), Flash()};
    if (job.listedAfter) {
      // No unit's serial: the run ends after the listing.
      const ProcessResult listing = RunProcess(JobSetup(Environment(), "0"));
      EXPECT_NE(listing.output.find(job.listedAfter), std::string::npos)
          << job.name << "\n"
          << listing.output;
    }
  }

  // The erase entries tell a refused erase from one that had begun by
  // whether the line shows "erasing ... ".
  struct EraseScreen {
    const char* job;
    const char* message;
    SimRegion region;
    bool began;
  };
  const EraseScreen kEraseScreens[] = {
      {"code erase refused", "CODE FLASH ERASE FAILED", kCode, false},
      {"code erase fails", "CODE FLASH ERASE FAILED", kCode, true},
      {"store erase refused", "STORE FLASH ERASE FAILED", kStore, false},
      {"store erase fails", "STORE FLASH ERASE FAILED", kStore, true},
  };
  for (const EraseScreen& erase : kEraseScreens) {
    SCOPED_TRACE(erase.job);
    const std::string& text = guide_.at(erase.message).text;
    for (const char* claim :
         {"Without \"erasing ... \", as in \"Code flash erase ... CODE FLASH "
          "ERASE FAILED\", the unit refused the erase before it began: that "
          "flash is as it was before the run.",
          "after a refused code flash erase nothing on the unit was changed;",
          "after a refused store flash erase the code flash holds the new "
          "firmware",
          "With \"erasing ... \", as in \"Code flash erase ... erasing ... "
          "CODE FLASH ERASE FAILED\", the erase had begun: that flash may be "
          "erased, wholly or in part."}) {
      EXPECT_NE(text.find(claim), std::string::npos) << claim << "\n" << text;
    }
    const auto& [line, flash] = jobs_.at(erase.job);
    EXPECT_EQ(line.find("erasing ... ") != std::string::npos, erase.began)
        << line;
    const bool code = erase.region == kCode;
    const bool regionChanged = code ? flash.codeChanged : flash.storeChanged;
    EXPECT_EQ(regionChanged, erase.began);
    if (code) {
      EXPECT_FALSE(flash.storeChanged);
    } else {
      EXPECT_TRUE(flash.codeWritten);
    }
  }

  {
    // Another job on the unit: the second starts while the first erases
    // the code flash, and is over before that erase has changed anything.
    FreshBench([](SimBench& bench) { bench.units[0].eraseMs = 3000; });
    ProcessSetup first = JobSetup(Environment(), "4711");
    first.terminal = true;
    first.pipeInput = false;
    first.steps = {{"you wish to program : ", "4711\n"},
                   {"Code flash erase ... ", ""},
                   {"Press space to exit", " "}};
    ProcessResult second;
    Observation seen;
    first.steps[1].action = [&](int) {
      second = RunProcess(JobSetup(Environment(), "4711"));
      SplitAtMessage(second.output, &seen);
      seen.exitCode = second.exitCode;
      seen.changed = ReadFile(CodeFile()) != codeBefore_ ||
                     ReadFile(StoreFile()) != storeBefore_;
    };
    const ProcessResult result = RunProcess(first);
    ASSERT_FALSE(result.timedOut) << result.output;
    Judge("whole job", "another job on the unit",
          "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE", seen);
    Judge("whole job", "the job the other was refused beside",
          "PROGRAMMING SUCCESSFUL",
          Observe(result.output, result.exitCode, image_, profile_));
  }

  {
    // A server that hands out no object when it is created: COM finds a
    // server in another process only through an object, so the server is
    // registered in this one, and the connection runs alone.
    FreshBench(
        WithFault(Fault("CreateInstance", {}, FaultAction::kEmptyOutput)));
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    auto server = std::make_unique<SimServer>(bench_);
    ASSERT_EQ(server->Register(), S_OK);
    const PhaseOutcome outcome = RunPhase([&] {
      ConnectServer(profile_.data(), static_cast<uint32_t>(profile_.size()));
    });
    // StopRun uninitialised COM, which revoked the registration.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    server.reset();
    CoUninitialize();
    Judge("in process", "connecting to a server that gives no object",
          "COULD NOT CONNECT TO TALQUIN SERVER",
          Observe(outcome.output, outcome.exitCode, image_, profile_));
  }

  const std::vector<uint8_t> stream =
      ReadFile(std::string(ECUPROG_SOURCE_DIR) + "/resources/w3_code.zlib");
  for (const InProcessCase& c :
       InProcessCases(image_.size(), profile_.size())) {
    FreshBench(c.change);
    FirmwareResources resources;
    if (c.firmware) {
      c.firmware(resources);
    } else {
      resources.Put(kCodeResourceId, ImageEntry{stream});
      resources.Put(kProfileResourceId, ImageEntry{profile_});
    }
    if (c.comTaken) {
      ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    }
    RefuseSafeArrayOfSize(c.refusedArray, c.refusedAfter);
    ShortageConsole console("4711\n", c.shortageAt);
    const ErasePolling polling = {kErasePolling.firstPauseMs,
                                  kErasePolling.longestPauseMs,
                                  c.giveUpAfterMs};
    const PhaseOutcome outcome =
        RunPhaseOn(&console, [&] { RunProgrammingJob(0, nullptr, polling); });
    RefuseSafeArrayOfSize(0, 0);
    std::set_new_handler(nullptr);
    if (c.comTaken) CoUninitialize();
    ASSERT_TRUE(outcome.stopped) << c.name;
    Judge("in process", c.name, c.message,
          Observe(outcome.output, outcome.exitCode, image_, profile_));
  }

  // Which entries were checked, and how; an entry no run reached fails.
  for (const auto& [message, entry] : guide_) {
    const auto checks = checks_.find(message);
    std::printf("\"%s\"\n", message.c_str());
    for (const std::string& unit : entry.units) {
      std::printf("    Unit: %s\n", unit.c_str());
    }
    if (checks == checks_.end()) {
      ADD_FAILURE() << "no run ends with \"" << message << "\"";
      continue;
    }
    for (const std::string& check : checks->second) {
      std::printf("    checked: %s\n", check.c_str());
    }
  }
}

// A run ended from outside at each place the guide's section on runs with
// no message tells apart, and a run that stopped between an erase and its
// write: what the flash holds bears out the guide's words for the last
// line on the screen, and the job run again, once the cut run's server has
// gone, programs the unit.
struct Interruption {
  const char* name;
  /// The run is ended with `signal` once this is on the screen; empty: it
  /// runs to its message, under `change`.
  const char* cutAt;
  int signal;
  BenchChange change;
  /// The guide's words for it, and what contradicts them ("" when
  /// nothing).
  const char* claim;
  std::function<std::string(bool codeChanged, bool storeChanged,
                            bool codeWritten, bool written)>
      wrong;
  /// What the job run again shows, where it is certain.
  const char* rerunShows;
};

std::string Nothing(bool code, bool store, bool, bool) {
  return code || store ? "the flash changed" : "";
}
std::string StoreAsItWas(bool, bool store, bool, bool) {
  return store ? "the store flash changed" : "";
}
std::string CodeWritten(bool, bool, bool codeWritten, bool) {
  return codeWritten ? "" : "the code flash does not hold the new firmware";
}
std::string BothWritten(bool, bool, bool, bool written) {
  return written ? "" : "the flash does not hold the new firmware";
}
std::string Anything(bool, bool, bool, bool) { return ""; }

const char kStoreLines[] =
    "\"Store flash erase ... \" or \"Store flash program ... \" is the last "
    "line: the code flash holds the new firmware; the store flash may be "
    "erased or hold only part of the new settings.";
const char kAlreadyBlank[] =
    "A run of the job again after one that stopped between the erase and the "
    "write of that flash shows it; it is not a fault.";

const Interruption kInterruptions[] = {
    {"Ctrl+C at the question", "you wish to program : ", SIGINT, nullptr,
     "No \"Code flash erase\" line (the run ended at the list of units, at "
     "the question or at the \"Access as\" lines): nothing on the unit was "
     "changed.",
     Nothing, "\nCode flash erase ... erasing ... complete"},
    {"window closed in the code erase", "Code flash erase ... erasing ... ",
     SIGHUP, nullptr,
     "\"Code flash erase ... \" is the last line, with or without \"erasing "
     "... \": the code flash may be erased, wholly or in part. The store flash "
     "is as it was.",
     StoreAsItWas, nullptr},
    {"ended in the code write", "Code flash program ... ", SIGKILL, nullptr,
     "\"Code flash program ... \" is the last line: the code flash may be "
     "erased or hold only part of the new firmware. The store flash is as it "
     "was.",
     StoreAsItWas, nullptr},
    {"ended in the store erase", "Store flash erase ... erasing ... ", SIGKILL,
     nullptr, kStoreLines, CodeWritten, nullptr},
    {"Ctrl+C in the store write", "Store flash program ... ", SIGINT, nullptr,
     kStoreLines, CodeWritten, nullptr},
    {"ended at the reset", "Reset request ... ", SIGKILL, nullptr,
     "\"Reset request ... \" is the last line: both flashes hold the new "
     "firmware; the unit may not have taken the reset that starts it.",
     BothWritten, nullptr},
    {"code write refused", "", 0,
     WithFault(Fault("ProgramRegion", kCode, FaultAction::kStatus, kRefusal)),
     kAlreadyBlank, Anything, "\nCode flash erase ... already blank\n"},
    {"store write refused", "", 0,
     WithFault(Fault("ProgramRegion", kStore, FaultAction::kStatus, kRefusal)),
     kAlreadyBlank, Anything, "\nStore flash erase ... already blank\n"},
};

// Steps long enough for a cut to land inside them.
constexpr uint32_t kStepMs = 300;

TEST_F(GuideAgainstRuns, ARunEndedFromOutsideLeavesWhatTheGuideSays) {
  const std::string guide =
      Words(ReadGuideText(std::string(ECUPROG_SOURCE_DIR) + "/MESSAGES.txt"));
  const size_t section = guide.find("A run that ended with no message -");
  ASSERT_NE(section, std::string::npos);
  const std::string noMessage = guide.substr(section);
  // Opening words that hold for every run, and one wait for the maker's
  // server throughout.
  EXPECT_NE(guide.find("Every run of ecuprog that comes to its end by "
                       "itself ends with one message"),
            std::string::npos);
  EXPECT_NE(noMessage.find("With the maker's programming server, wait six "
                           "minutes: the server keeps the unit for about six "
                           "minutes after such a run"),
            std::string::npos);
  EXPECT_NE(guide_.at("COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE")
                .text.find("only after about six minutes"),
            std::string::npos);
  EXPECT_NE(noMessage.find("Make sure that no other run of ecuprog, in "
                           "another window or by a colleague on this PC, is "
                           "using the unit; if one is, let it finish."),
            std::string::npos);

  for (const Interruption& cut : kInterruptions) {
    SCOPED_TRACE(cut.name);
    const std::string where = cut.cutAt[0] ? noMessage : guide;
    EXPECT_NE(where.find(cut.claim), std::string::npos) << cut.claim;

    FreshBench([&](SimBench& bench) {
      bench.units[0].eraseMs = kStepMs;
      bench.units[0].programMs = kStepMs;
      if (cut.change) cut.change(bench);
    });
    ProcessSetup first = JobSetup(Environment(), "4711");
    first.terminal = true;
    first.pipeInput = false;
    first.steps = {{"you wish to program : ", "4711\n"},
                   {"Press space to exit", " "}};
    std::vector<int> servers;
    first.steps[0].action = [&](int pid) { servers = ChildrenOf(pid); };
    const auto end = [&cut](int pid) { kill(pid, cut.signal); };
    if (cut.cutAt == std::string("you wish to program : ")) {
      first.steps = {{cut.cutAt, ""}};
      first.steps[0].action = [&](int pid) {
        servers = ChildrenOf(pid);
        end(pid);
      };
    } else if (cut.cutAt[0]) {
      first.steps[1] = {cut.cutAt, "", 0.05};
      first.steps[1].action = end;
    }
    const ProcessResult result = RunProcess(first);
    ASSERT_FALSE(result.timedOut) << result.output;
    if (cut.cutAt[0]) {
      EXPECT_EQ(result.signal, cut.signal) << result.output;
    } else {
      EXPECT_EQ(result.exitCode, 1) << result.output;
    }
    // The simulator lets go of the unit once the run has gone.
    for (int pid : servers) {
      EXPECT_TRUE(WaitUntilGone(pid, 10)) << "server " << pid << " stays";
    }
    // The record shows the step the run was cut in, as the screen does.
    if (cut.cutAt[0]) {
      static const std::map<std::string, std::string> kSteps = {
          {"Code flash erase ... ", "code erase"},
          {"Code flash program ... ", "code program"},
          {"Store flash erase ... ", "store erase"},
          {"Store flash program ... ", "store program"},
          {"Reset request ... ", "reset"}};
      const std::string last = LastLine(WithoutCarriageReturns(result.output));
      std::string step;
      for (const auto& [prefix, name] : kSteps) {
        if (last.rfind(prefix, 0) == 0) step = name;
      }
      const std::vector<nlohmann::json> record = TakeRecord("");
      ASSERT_FALSE(record.empty());
      // A run cut only at its final wait had ended by itself.
      if (record.back().value("entry", "") != "end") {
        EXPECT_EQ(LastStep(record, /*open=*/true), step) << last;
      }
    } else {
      TakeRecord("");
    }
    const FlashAfter flash = Flash();
    EXPECT_EQ(cut.wrong(flash.codeChanged, flash.storeChanged,
                        flash.codeWritten, flash.written),
              "")
        << result.output;

    // The same job again, on the same bench, without the fault.
    SimBench bench = LoadBench(bench_);
    bench.faults.clear();
    SaveBench(bench);
    const ProcessResult again = RunProcess(JobSetup(Environment(), "4711"));
    ASSERT_FALSE(again.timedOut) << again.output;
    TakeRecord("PROGRAMMING SUCCESSFUL");
    const std::string screen = WithoutCarriageReturns(again.output);
    EXPECT_EQ(again.exitCode, 0) << screen;
    EXPECT_NE(screen.find("\nPROGRAMMING SUCCESSFUL\n"), std::string::npos)
        << screen;
    if (cut.rerunShows) {
      EXPECT_NE(screen.find(cut.rerunShows), std::string::npos) << screen;
    }
    for (int pid : ChildrenOf(getpid())) WaitUntilGone(pid, 10);
    EXPECT_TRUE(Flash().written);
  }
}

}  // namespace

// A bench's files are never lost: a bench that cannot be read is refused
// and left as it is, a first bench appears whole or not at all, also when
// several jobs start at once or the disk fails under it.
#include "sim/bench_files.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include "sim/bench_flash.h"
#include "sim/bench_json.h"
#include "sim/bench_location.h"
#include "sim/code_flash_check.h"
#include "sim/default_bench.h"
#include "sim/temp_folder.h"
#include "tests/sim/unusual_files.h"

namespace fs = std::filesystem;

namespace {

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry of the folder: a link's target, a file's bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    entries[name] = entry.is_symlink()
                        ? "-> " + fs::read_symlink(entry.path()).string()
                    : entry.is_directory()     ? "folder"
                    : !entry.is_regular_file() ? "not a plain file"
                                               : Contents(entry.path());
  }
  return entries;
}

// Runs `job` in a child process; true when it returned true.
bool InChild(const std::function<bool()>& job) {
  const pid_t child = fork();
  if (child == 0) _exit(job() ? 0 : 1);
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child &&
         WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The default bench in `folder` is whole: it reads, and the ready unit
// holds its code and profile.
void ExpectWholeDefaultBench(const std::string& folder) {
  SimBench bench;
  ASSERT_NO_THROW(bench = LoadBench(folder));
  EXPECT_EQ(BenchToJson(bench),
            BenchToJson(MakeDefaultBench(folder, BenchTiming::kRealistic)));
  const std::vector<uint8_t> code =
      ReadBenchFlash(bench, kDefaultReadyUnit, SimRegion::kCode);
  EXPECT_TRUE(BootableCode(code, "W3").has_value());
  const std::vector<uint8_t> store =
      ReadBenchFlash(bench, kDefaultReadyUnit, SimRegion::kStore);
  EXPECT_NE(store[0], kErasedByte);
}

class BenchFilesTest : public testing::Test {
 protected:
  TempFolder folder_;
  std::string bench_ = folder_.path() + "/bench";
};

TEST_F(BenchFilesTest, ABenchThatCannotBeReadIsRefusedAndLeftAsItIs) {
  const struct {
    const char* name;
    std::function<void(const std::string& json)> damage;
  } cases[] = {
      {"a link to itself",
       [](const std::string& json) {
         fs::remove(json);
         fs::create_symlink("bench.json", json);
       }},
      {"truncated",
       [](const std::string& json) {
         fs::resize_file(json, fs::file_size(json) / 2);
       }},
      {"empty", [](const std::string& json) { fs::resize_file(json, 0); }},
      {"missing beside the flash files",
       [](const std::string& json) { fs::remove(json); }},
      {"a folder",
       [](const std::string& json) {
         fs::remove(json);
         fs::create_directory(json);
       }},
      {"a pipe, never waited on",
       [](const std::string& json) {
         fs::remove(json);
         ASSERT_TRUE(MakePipe(json));
       }},
  };
  for (const auto& damaged : cases) {
    SCOPED_TRACE(damaged.name);
    fs::remove_all(bench_);
    WriteDefaultBench(bench_, BenchTiming::kInstant);
    const std::string json = bench_ + "/" + kBenchFileName;
    damaged.damage(json);
    const auto before = Snapshot(bench_);
    try {
      OpenBench(bench_);
      ADD_FAILURE() << "opened";
    } catch (const BenchError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(json, 0), 0u) << error.what();
    }
    EXPECT_EQ(Snapshot(bench_), before);
  }
}

TEST_F(BenchFilesTest, AFirstBenchIsTheOwnersAlone) {
  for (bool folderThere : {false, true}) {
    SCOPED_TRACE(folderThere);
    fs::remove_all(bench_);
    if (folderThere) fs::create_directory(bench_);
    OpenBench(bench_);
    ExpectWholeDefaultBench(bench_);
    EXPECT_EQ(fs::status(bench_).permissions(), fs::perms::owner_all);
    for (const fs::directory_entry& entry : fs::directory_iterator(bench_)) {
      EXPECT_EQ(entry.status().permissions(),
                fs::perms::owner_read | fs::perms::owner_write)
          << entry.path();
    }
    // Nothing is left beside it.
    EXPECT_EQ(Snapshot(folder_.path()).size(), 1u);
  }
}

TEST_F(BenchFilesTest, FirstUsesAtOnceAllFindOneWholeBench) {
  // Each round four jobs start on a bench that is not there yet.
  constexpr int kRounds = 5;
  constexpr int kJobs = 4;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    fs::remove_all(bench_);
    pid_t jobs[kJobs];
    for (pid_t& job : jobs) {
      job = fork();
      if (job == 0) {
        try {
          const SimBench bench = OpenBench(bench_);
          const bool whole =
              BootableCode(
                  ReadBenchFlash(bench, kDefaultReadyUnit, SimRegion::kCode),
                  "W3")
                  .has_value() &&
              ReadBenchFlash(bench, kDefaultReadyUnit, SimRegion::kStore)[0] !=
                  kErasedByte;
          _exit(whole ? 0 : 1);
        } catch (const BenchError&) {
          _exit(2);
        }
      }
    }
    for (pid_t job : jobs) {
      int status = 0;
      ASSERT_EQ(waitpid(job, &status, 0), job);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "a job found a bench that was not whole";
    }
    ExpectWholeDefaultBench(bench_);
    EXPECT_EQ(Snapshot(folder_.path()).size(), 1u);
  }
}

TEST_F(BenchFilesTest, AWriteFailureWhileMakingTheBenchLeavesNoBench) {
  // No file may grow past 64 KiB: the flash files cannot be written.
  const bool refused = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      OpenBench(bench_);
      return false;
    } catch (const BenchError& error) {
      return std::string(error.what()).rfind(bench_ + ": ", 0) == 0;
    }
  });
  EXPECT_TRUE(refused);
  EXPECT_TRUE(Snapshot(folder_.path()).empty());
  // The next use, with room again, makes it.
  OpenBench(bench_);
  ExpectWholeDefaultBench(bench_);
}

TEST_F(BenchFilesTest, RewritesReplaceTheFileWhole) {
  const std::string path = folder_.path() + "/bench.json";
  ReplaceFileContents(path, "old");
  ReplaceFileContents(path, "new");
  EXPECT_EQ(Contents(path), "new");
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Snapshot(folder_.path()).size(), 1u);

  // Where the new file cannot be written whole, the old one stays.
  const bool refused = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4, 4};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      ReplaceFileContents(path, "longer than four bytes");
      return false;
    } catch (const BenchError&) {
      return true;
    }
  });
  EXPECT_TRUE(refused);
  EXPECT_EQ(Contents(path), "new");
  EXPECT_EQ(Snapshot(folder_.path()).size(), 1u);
}

// Whether the default bench in `folder` is whole, for a child process that
// has no test of its own to report to.
bool IsWholeDefaultBench(const std::string& folder) {
  try {
    const SimBench bench = LoadBench(folder);
    return BenchToJson(bench) ==
               BenchToJson(MakeDefaultBench(folder, BenchTiming::kRealistic)) &&
           BootableCode(
               ReadBenchFlash(bench, kDefaultReadyUnit, SimRegion::kCode), "W3")
               .has_value();
  } catch (const BenchError&) {
    return false;
  }
}

// What a folder holds that a bench does not: hidden entries.
std::vector<std::string> Hidden(const std::string& folder) {
  std::vector<std::string> hidden;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == '.') hidden.push_back(name);
  }
  return hidden;
}

TEST_F(BenchFilesTest, APathEndingInSlashesGetsItsBench) {
  for (const char* slashes : {"/", "//"}) {
    SCOPED_TRACE(slashes);
    fs::remove_all(bench_);
    OpenBench(bench_ + slashes);
    ExpectWholeDefaultBench(bench_);
    EXPECT_EQ(Hidden(bench_), std::vector<std::string>{});
    EXPECT_EQ(Snapshot(folder_.path()).size(), 1u);
  }
}

TEST_F(BenchFilesTest, AnEmptyMountPointIsFilledWhereItStands) {
  fs::create_directory(bench_);
  // In a mount namespace of the child's own, so the mount goes with it.
  constexpr int kCannotMount = 77;
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", bench_.c_str(), "tmpfs", 0, "size=4m") != 0) {
      _exit(kCannotMount);
    }
    try {
      OpenBench(bench_);
    } catch (const BenchError& error) {
      std::fprintf(stderr, "%s\n", error.what());
      _exit(1);
    }
    _exit(IsWholeDefaultBench(bench_) && Hidden(bench_).empty() ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kCannotMount) {
    GTEST_SKIP() << "no right to mount a file system here";
  }
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Snapshot(folder_.path()).size(), 1u) << "nothing beside it";
}

// An empty folder of the user's own in a folder the user may not write:
// as root the user is nobody, otherwise the folder above loses its write
// right (given back when the object goes).
class LockedParent {
 public:
  explicit LockedParent(const std::string& under)
      : parent_(under + "/shared"), bench_(parent_ + "/bench") {
    fs::create_directories(bench_);
    fs::permissions(parent_, fs::perms::owner_all | fs::perms::group_read |
                                 fs::perms::group_exec |
                                 fs::perms::others_read |
                                 fs::perms::others_exec);
    if (root_) {
      EXPECT_EQ(chown(bench_.c_str(), kNobody, kNobody), 0);
    } else {
      fs::permissions(parent_, fs::perms::owner_write,
                      fs::perm_options::remove);
    }
  }
  ~LockedParent() {
    fs::permissions(parent_, fs::perms::owner_write, fs::perm_options::add);
  }
  const std::string& parent() const { return parent_; }
  const std::string& bench() const { return bench_; }

  // In a child process: the user opens the bench and finds it whole.
  bool UserFindsAWholeBench() const {
    if (root_ && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) return false;
    try {
      OpenBench(bench_);
    } catch (const BenchError& error) {
      std::fprintf(stderr, "%s\n", error.what());
      return false;
    }
    return IsWholeDefaultBench(bench_);
  }

 private:
  static constexpr uid_t kNobody = 65534;
  const bool root_ = geteuid() == 0;
  std::string parent_;
  std::string bench_;
};

TEST_F(BenchFilesTest, AnEmptyFolderInAParentTheUserCannotWriteIsFilled) {
  const LockedParent locked(folder_.path());
  EXPECT_TRUE(InChild([&] {
    return locked.UserFindsAWholeBench() && Hidden(locked.bench()).empty();
  }));
  EXPECT_EQ(Snapshot(locked.parent()).size(), 1u);
}

TEST_F(BenchFilesTest, FirstUsesAtOnceFillAFolderInPlaceOnce) {
  const LockedParent locked(folder_.path());
  constexpr int kJobs = 4;
  pid_t jobs[kJobs];
  for (pid_t& job : jobs) {
    job = fork();
    if (job == 0) _exit(locked.UserFindsAWholeBench() ? 0 : 1);
  }
  for (pid_t job : jobs) {
    int status = 0;
    ASSERT_EQ(waitpid(job, &status, 0), job);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "a job found a bench that was not whole";
  }
  EXPECT_EQ(Hidden(locked.bench()), std::vector<std::string>{});
}

TEST_F(BenchFilesTest, OldBuildLeftoversGoWhenTheNextBenchIsMade) {
  const std::string oldBeside = folder_.path() + "/.bench.building-1";
  const std::string newBeside = folder_.path() + "/.bench.building-2";
  const std::string oldInside = bench_ + "/.bench.building-3";
  const std::string other = folder_.path() + "/.other.building-4";
  for (const std::string& leftover : {oldBeside, newBeside, oldInside, other}) {
    fs::create_directories(leftover);
    std::ofstream(leftover + "/w3-bay1-code.bin") << "part";
  }
  const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
  for (const std::string& leftover : {oldBeside, oldInside, other}) {
    fs::last_write_time(leftover, longAgo);
  }
  // A folder holding nothing but leftovers holds no bench yet.
  OpenBench(bench_);
  ExpectWholeDefaultBench(bench_);
  EXPECT_FALSE(fs::exists(oldBeside));
  EXPECT_FALSE(fs::exists(oldInside));
  // One of a server that may still be building, and another folder's,
  // stay.
  EXPECT_TRUE(fs::exists(newBeside));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_EQ(Hidden(bench_), std::vector<std::string>{});
}

// A simulator ended while it made a flash file, or --make-bench while it
// wrote bench.json, leaves a temporary beside it; the next server takes
// away those no live writer can still be writing.
TEST_F(BenchFilesTest, OldFileTemporariesGoWhenTheBenchIsNextOpened) {
  WriteDefaultBench(bench_, BenchTiming::kRealistic);
  const std::string oldCode = bench_ + "/.w3-bay1-code.bin.new-12";
  const std::string oldJson = bench_ + "/.bench.json.new-34";
  const std::string newStore = bench_ + "/.w3-bay1-store.bin.new-56";
  const std::string oldFolder = bench_ + "/.w3-bay4-code.bin.new-78";
  for (const std::string& temporary : {oldCode, oldJson, newStore}) {
    std::ofstream(temporary) << "part";
  }
  fs::create_directory(oldFolder);
  const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
  for (const std::string& temporary : {oldCode, oldJson, oldFolder}) {
    fs::last_write_time(temporary, longAgo);
  }
  OpenBench(bench_);
  EXPECT_FALSE(fs::exists(oldCode));
  EXPECT_FALSE(fs::exists(oldJson));
  // One that may still be written, and what no writer of ours makes, stay.
  EXPECT_TRUE(fs::exists(newStore));
  EXPECT_TRUE(fs::exists(oldFolder));
  ExpectWholeDefaultBench(bench_);

  // A bench that cannot be read is left as it is, temporaries and all.
  std::ofstream(oldCode) << "part";
  fs::last_write_time(oldCode, longAgo);
  fs::resize_file(bench_ + "/bench.json", 3);
  EXPECT_THROW(OpenBench(bench_), BenchError);
  EXPECT_TRUE(fs::exists(oldCode));
}

// Each says what stands at the bench's path, and nothing is made there
// or through it.
TEST_F(BenchFilesTest, ABenchPathThatIsNoBenchFolderIsNamedForWhatItIs) {
  const std::string empty = folder_.path() + "/empty";
  const struct {
    const char* name;
    std::function<void()> put;
    std::string says;  // after the path
  } cases[] = {
      {"a link to an empty folder",
       [&] {
         fs::create_directory(empty);
         fs::create_symlink(empty, bench_);
       },
       ": a symbolic link to \"" + empty +
           "\", an empty folder; no default bench is made through a link: "
           "make it there with ecuprog-sim --make-bench, or name that "
           "folder itself"},
      {"a dangling link", [&] { fs::create_symlink("gone", bench_); },
       ": a symbolic link to \"gone\", which is not there (a dangling "
       "link); no bench is made through a link"},
      {"a link to a file",
       [&] {
         std::ofstream(folder_.path() + "/file") << "x";
         fs::create_symlink("file", bench_);
       },
       ": a symbolic link to \"file\", a file, not a folder"},
      {"a file", [&] { std::ofstream(bench_) << "x"; },
       ": a file, not a folder; the bench is a folder holding bench.json"},
      {"a pipe", [&] { ASSERT_TRUE(MakePipe(bench_)); },
       ": not a folder (a pipe, a device or the like)"},
      {"a folder that holds other things",
       [&] {
         fs::create_directory(bench_);
         std::ofstream(bench_ + "/notes.txt") << "x";
       },
       "/bench.json: missing, and the folder is not empty, so no default "
       "bench is made in it"},
  };
  for (const auto& notABench : cases) {
    SCOPED_TRACE(notABench.name);
    fs::remove_all(folder_.path());
    fs::create_directory(folder_.path());
    notABench.put();
    const auto before = Snapshot(folder_.path());
    try {
      OpenBench(bench_);
      ADD_FAILURE() << "opened";
    } catch (const BenchError& error) {
      EXPECT_EQ(error.what(), bench_ + notABench.says);
    }
    // Written with a slash at its end, the path is still judged itself,
    // not what a link there points to.
    try {
      OpenBench(bench_ + "/");
      ADD_FAILURE() << "opened";
    } catch (const BenchError& error) {
      EXPECT_NE(std::string(error.what()).find(notABench.says.substr(1)),
                std::string::npos)
          << error.what();
    }
    EXPECT_EQ(Snapshot(folder_.path()), before);
    if (fs::is_directory(empty)) {
      EXPECT_TRUE(fs::is_empty(empty));
    }
  }
}

// Moves refused as a virus scanner refuses them on Windows while it reads
// a new file: `refuse(from, to)` says whether this try is refused. Pauses
// are counted, not waited.
class BlockedMoves {
 public:
  using Refusal = std::function<bool(const std::string&, const std::string&)>;
  explicit BlockedMoves(Refusal refuse) {
    const BenchMoves system = SystemBenchMoves();
    const auto blockable = [this, refuse](auto move) {
      return
          [this, refuse, move](const std::string& from, const std::string& to) {
            moves.emplace_back(from, to);
            blocked_ = refuse(from, to);
            return !blocked_ && move(from, to);
          };
    };
    saved_ = SetBenchMoves(
        {blockable(system.renameOver), blockable(system.moveIntoPlace),
         [this] { return blocked_; }, [this](DWORD ms) { paused += ms; }});
  }
  ~BlockedMoves() { SetBenchMoves(saved_); }

  std::vector<std::pair<std::string, std::string>> moves;
  DWORD paused = 0;

 private:
  BenchMoves saved_;
  bool blocked_ = false;
};

TEST_F(BenchFilesTest, MovesAVirusScannerBlocksAreWaitedForThenDoneInPlace) {
  const std::string json = bench_ + "/" + kBenchFileName;
  const auto intoBench = [this](const std::string& from,
                                const std::string& to) {
    return to == bench_ && from.find(".bench.building-") != std::string::npos;
  };
  // Each case refuses some tries; `filled`: the bench is filled where it
  // stands rather than renamed into place.
  const struct {
    const char* name;
    std::function<BlockedMoves::Refusal()> refusal;
    bool made;
    bool filled;
    std::optional<DWORD> paused;  // nullopt: some pause, of each file
  } cases[] = {
      {"nothing blocked",
       [] {
         return [](const std::string&, const std::string&) { return false; };
       },
       true, false, 0},
      {"the folder's rename blocked three times",
       [&] {
         return [&, count = 0](const std::string& from,
                               const std::string& to) mutable {
           return intoBench(from, to) && ++count <= 3;
         };
       },
       true, false, 3 * kBlockedMoveRetryMs},
      {"the folder's rename blocked for good", [&] { return intoBench; }, true,
       true, kBlockedMoveWaitMs},
      {"each file's first two moves blocked",
       [&] {
         return [&, counts = std::map<std::string, int>()](
                    const std::string& from, const std::string&) mutable {
           return ++counts[from] <= 2;
         };
       },
       true, false, std::nullopt},
      {"every move blocked for good",
       [] {
         return [](const std::string&, const std::string&) { return true; };
       },
       false, false, kBlockedMoveWaitMs},
  };
  for (const auto& blocked : cases) {
    SCOPED_TRACE(blocked.name);
    fs::remove_all(bench_);
    BlockedMoves moves(blocked.refusal());
    bool made = false;
    try {
      OpenBench(bench_);
      made = true;
    } catch (const BenchError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(bench_ + ": ", 0), 0u)
          << error.what();
    }
    EXPECT_EQ(made, blocked.made);
    if (blocked.made) {
      ExpectWholeDefaultBench(bench_);
      EXPECT_EQ(Hidden(bench_), std::vector<std::string>{});
      bool filled = false;
      for (const auto& [from, to] : moves.moves) filled |= to == json;
      EXPECT_EQ(filled, blocked.filled);
    } else {
      // No bench, not even a part of one.
      EXPECT_TRUE(IsMissingOrEmptyFolder(bench_));
      EXPECT_FALSE(fs::exists(json));
    }
    if (blocked.paused) {
      EXPECT_EQ(moves.paused, *blocked.paused);
    } else {
      EXPECT_GT(moves.paused, 0u);
    }
    // Nothing beside it but leftovers a scanner kept may stay.
    for (const auto& [name, contents] : Snapshot(folder_.path())) {
      EXPECT_TRUE(name == "bench" || IsBuildLeftover(name)) << name;
    }
  }
}

}  // namespace

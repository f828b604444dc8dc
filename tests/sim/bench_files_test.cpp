// A bench's files are never lost: a bench that cannot be read is refused
// and left as it is, a first bench appears whole or not at all, also when
// several jobs start at once or the disk fails under it.
#include "sim/bench_files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "sim/bench_flash.h"
#include "sim/bench_json.h"
#include "sim/bench_location.h"
#include "sim/code_flash_check.h"
#include "sim/default_bench.h"
#include "sim/temp_folder.h"

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
                    : entry.is_directory() ? "folder"
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

}  // namespace

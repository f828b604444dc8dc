// The serving simulator's log stays within its two bounded files, keeps the
// newest lines, is its owner's alone, and never stands in the way of a
// bench or of a job.
#include "sim/server_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "sim/bench_location.h"
#include "sim/temp_folder.h"

namespace fs = std::filesystem;

namespace {

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string FixedTime() { return "T"; }

TEST(ServerLogTest, EachFileStaysWithinItsBoundAndTheNewestLinesAreKept) {
  TempFolder folder;
  const std::string path = folder.path() + "/" + kServerLogName;
  // Lines of 10 bytes ("T " + 7 + newline), 35 bytes a file: three lines
  // fit, the fourth starts a new file.
  const ServerLog log(path, 35, FixedTime);
  for (int i = 0; i < 100; ++i) {
    log.Write("line" + std::to_string(100 + i));
    ASSERT_LE(fs::file_size(path), 35u) << "after line " << i;
    if (fs::exists(path + ".1")) {
      ASSERT_LE(fs::file_size(path + ".1"), 35u) << "after line " << i;
    }
  }
  EXPECT_EQ(Contents(path), "T line199\n");
  EXPECT_EQ(Contents(path + ".1"), "T line196\nT line197\nT line198\n");
  // Two files, nothing else beside them.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()),
                          fs::directory_iterator()),
            2);
}

TEST(ServerLogTest, ALineIsOneLineAndNeverLongerThanAFile) {
  TempFolder folder;
  const std::string path = folder.path() + "/" + kServerLogName;
  struct Case {
    const char* what;
    std::string message;
    uint64_t fileBytes;
    std::string expected;
  };
  const Case cases[] = {
      {"line breaks", "bench.json:\nline 3\r\n", 100,
       "T bench.json: line 3  \n"},
      {"longer than the file", std::string(50, 'x'), 20,
       "T " + std::string(17, 'x') + "\n"},
      {"longer than a message may be",
       std::string(kServerLogMessageBytes + 100, 'y'), kServerLogFileBytes,
       "T " + std::string(kServerLogMessageBytes, 'y') + "\n"},
  };
  for (const Case& c : cases) {
    fs::remove(path);
    ServerLog(path, c.fileBytes, FixedTime).Write(c.message);
    EXPECT_EQ(Contents(path), c.expected) << c.what;
  }
}

TEST(ServerLogTest, LinesBeginWithTheTimeInUtc) {
  TempFolder folder;
  const std::string path = folder.path() + "/" + kServerLogName;
  ServerLog(path).Write("bench.json: not JSON");
  EXPECT_TRUE(std::regex_match(
      Contents(path),
      std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:"
                 "[0-6][0-9] UTC bench\\.json: not JSON\n")))
      << Contents(path);
}

TEST(ServerLogTest, TheFilesAreTheOwnersAloneAndNoLinkIsFollowed) {
  TempFolder folder;
  const std::string path = folder.path() + "/" + kServerLogName;
  const mode_t before = umask(0);
  ServerLog(path, 10, FixedTime).Write("first");
  ServerLog(path, 10, FixedTime).Write("second");
  umask(before);
  for (const std::string& file : {path, path + ".1"}) {
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << file;
  }
  // A link planted where the log goes sends no line elsewhere.
  const std::string elsewhere = folder.path() + "/elsewhere";
  std::ofstream(elsewhere) << "kept\n";
  fs::remove(path);
  fs::create_symlink(elsewhere, path);
  ServerLog(path, 100, FixedTime).Write("sent");
  EXPECT_EQ(Contents(elsewhere), "kept\n");
}

TEST(ServerLogTest, ALogThatCannotBeWrittenIsPassedOver) {
  TempFolder folder;
  // No folder to write in: the report is lost, nothing else happens.
  ServerLog(folder.path() + "/missing/" + kServerLogName).Write("lost");
  EXPECT_FALSE(fs::exists(folder.path() + "/missing"));
}

TEST(ServerLogTest, AFolderHoldingOnlyTheLogStillGetsTheDefaultBench) {
  TempFolder folder;
  const std::string bench = folder.path() + "/bench";
  fs::create_directory(bench);
  ServerLog(bench + "/" + kServerLogName, 10, FixedTime).Write("one");
  ServerLog(bench + "/" + kServerLogName, 10, FixedTime).Write("two");
  ASSERT_TRUE(fs::exists(bench + "/" + kServerLogName + ".1"));
  const SimBench opened = OpenBench(bench);
  EXPECT_FALSE(opened.units.empty());
  EXPECT_TRUE(fs::exists(bench + "/bench.json"));
  EXPECT_EQ(Contents(bench + "/" + kServerLogName), "T two\n");
}

TEST(ServerLogTest, TheServingReporterWritesTheLogOnlyWhereNoOneSeesItsOutput) {
  TempFolder folder;
  const std::string path = folder.path() + "/" + kServerLogName;
  testing::internal::CaptureStderr();
  ServingReporter(folder.path(), /*errorOutputSeen=*/true)("seen");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ecuprog-sim: seen\n");
  EXPECT_FALSE(fs::exists(path));
  testing::internal::CaptureStderr();
  ServingReporter(folder.path(), /*errorOutputSeen=*/false)("unseen");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_NE(Contents(path).find(" UTC unseen\n"), std::string::npos);
}

}  // namespace

// The record a job leaves, for jobs that finish, are refused, are cut
// short or cannot keep a record at all; and that the job itself is the
// same either way.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "blocks/block_sha256.h"
#include "sim/bench_json.h"
#include "tests/e2e/bench_job_test.h"
#include "tests/e2e/job_checks.h"
#include "tests/messages_guide.h"

namespace {

using nlohmann::json;

// Where the record goes: XDG_STATE_HOME, the default under HOME when it is
// unset (empty), or nowhere when a file is where its folder would be.
enum class Place { kFolder, kHome, kFileInTheWay };

struct RecordCase {
  const char* name;
  const char* answer;
  Place place;
  bool cutDuringCodeErase;
  int exitCode;
  // The record's course: "unit N", "+step", "-step", "end CODE MESSAGE";
  // empty when no record is kept.
  const char* course;
};

const RecordCase kCases[] = {
    {"finished", "4711", Place::kFolder, false, 0,
     "unit 4711 +code erase -code erase +code program -code program "
     "+store erase -store erase +store program -store program +reset -reset "
     "end 0 PROGRAMMING SUCCESSFUL"},
    {"refused", "4799", Place::kHome, false, 1,
     "end 1 THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND"},
    {"cutDuringCodeErase", "4711", Place::kFolder, true, -1,
     "unit 4711 +code erase"},
    {"noPlaceForTheRecord", "4711", Place::kFileInTheWay, false, 0, ""},
};

class JobRecordTest : public BenchJobTest,
                      public testing::WithParamInterface<RecordCase> {};

std::vector<json> ReadRecord(const std::string& path) {
  std::vector<json> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(json::parse(line));
  return lines;
}

std::string Course(const std::vector<json>& lines) {
  std::string course;
  for (const json& line : lines) {
    const std::string entry = line["entry"];
    std::string part;
    if (entry == "unit") part = "unit " + std::to_string(int{line["serial"]});
    if (entry == "step") part = "+" + std::string(line["step"]);
    if (entry == "step end") part = "-" + std::string(line["step"]);
    if (entry == "end") {
      part = "end " + std::to_string(int{line["exit code"]}) + " " +
             std::string(line["message"]);
    }
    if (!part.empty()) course += (course.empty() ? "" : " ") + part;
  }
  return course;
}

// What the operator saw, as the record gives it: the screen with the
// answer where it was typed (the terminal echoes it).
std::string Screen(const std::vector<json>& lines) {
  std::string screen;
  for (const json& line : lines) {
    if (line["entry"] == "screen" || line["entry"] == "answer") {
      screen += std::string(line["text"]);
    }
  }
  return screen;
}

std::string GuideText() {
  return ReadGuideText(std::string(ECUPROG_SOURCE_DIR) + "/MESSAGES.txt");
}

TEST_P(JobRecordTest, TellsHowTheJobWentAndLeavesItAsItWas) {
  const RecordCase& c = GetParam();
  const std::string state = folder_.path() + "/state";
  if (c.place == Place::kFileInTheWay) {
    std::ofstream(state) << "not a folder\n";
  }
  ProcessSetup job = Job(c.answer);
  std::string folder = state + "/ecuprog/records";
  if (c.place == Place::kHome) {
    job.environment.push_back({"XDG_STATE_HOME", ""});
    job.environment.push_back({"HOME", state});
    folder = state + "/.local/state/ecuprog/records";
  } else {
    job.environment.push_back({"XDG_STATE_HOME", state});
  }
  if (c.cutDuringCodeErase) {
    SimBench bench = LoadBench(bench_);
    for (SimUnit& unit : bench.units) unit.eraseMs = 60000;
    SaveBench(bench);
    // Killed as a closed window or a power cut would leave it, with the
    // server it started.
    job.steps[1] = TerminalStep("erasing ... ", "");
    job.steps[1].action = [](int pid) {
      std::vector<int> servers = ChildrenOf(pid);
      kill(pid, SIGKILL);
      for (int server : servers) kill(server, SIGKILL);
    };
  }
  ProcessResult result = RunProcess(job);
  ASSERT_FALSE(result.timedOut) << result.output;
  EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
  const std::string output = WithoutCarriageReturns(result.output);

  if (c.place == Place::kFileInTheWay) {
    // One line says so, in the words the guide quotes; the job is the same
    // as with a record.
    EXPECT_NE(GuideText().find("\"ecuprog: no record of this job is kept in\""),
              std::string::npos);
    EXPECT_NE(
        output.find("ecuprog: no record of this job is kept in " + folder +
                    ": something that is no folder is where a folder "
                    "should be: " +
                    state + "\n"),
        std::string::npos)
        << output;
    EXPECT_NE(output.find("Reset request ... accepted\nPROGRAMMING "
                          "SUCCESSFUL\nPress space to exit\n"),
              std::string::npos)
        << output;
    return;
  }
  std::vector<std::string> files;
  for (const auto& file : std::filesystem::directory_iterator(folder)) {
    files.push_back(file.path().string());
    EXPECT_EQ(std::filesystem::status(file).permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_read |
                  std::filesystem::perms::owner_write);
  }
  ASSERT_EQ(files.size(), 1u);
  // Named as the guide tells the workshop to look for it.
  EXPECT_TRUE(
      std::regex_match(std::filesystem::path(files[0]).filename().string(),
                       std::regex("job-20[0-9]{6}T[0-9]{6}Z-[0-9]+\\.jsonl")))
      << files[0];
  std::vector<json> lines = ReadRecord(files[0]);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0]["entry"], "job");
  EXPECT_EQ(lines[0]["format"], 1);
  EXPECT_EQ(lines[1]["entry"], "firmware");
  EXPECT_EQ(lines[1]["release"], "1.463.1");
  // The blocks' SHA-256 as embedded, as the release notes give them.
  const std::vector<uint8_t> code =
      ReadFile(std::string(ECUPROG_SOURCE_DIR) + "/resources/w3_code.zlib");
  const std::vector<uint8_t> profile =
      ReadFile(std::string(ECUPROG_SOURCE_DIR) + "/resources/w3_profile.bin");
  EXPECT_EQ(lines[1]["code block sha256"],
            BlockSha256(code.data(), code.size()));
  EXPECT_EQ(lines[1]["profile block sha256"],
            BlockSha256(profile.data(), profile.size()));
  EXPECT_EQ(Course(lines), c.course);
  // The record's screen is the console's from the listing on (the record
  // begins once the blocks have passed), up to the closing prompt.
  const std::string shown = output.substr(output.find("Found : "));
  EXPECT_EQ(Screen(lines), shown.substr(0, shown.find("Press space to exit")));
}

INSTANTIATE_TEST_SUITE_P(Jobs, JobRecordTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<RecordCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

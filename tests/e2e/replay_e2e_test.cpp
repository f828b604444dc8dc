// A job's record replayed as a bench: a job against the bench made from the
// record of a real job sees what that job saw, timings aside.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/e2e/bench_job_test.h"

namespace {

namespace fs = std::filesystem;

class ReplayTest : public BenchJobTest {
 protected:
  // The job's console from its listing to its closing prompt, erase and
  // program times masked.
  static std::string Shown(const ProcessResult& result) {
    const std::string output = WithoutCarriageReturns(result.output);
    const size_t from = output.find("Found : ");
    if (from == std::string::npos) return output;
    static const std::regex kSeconds("\\([0-9.]+secs\\)");
    return std::regex_replace(
        output.substr(from, output.find("Press space to exit") - from),
        kSeconds, "(N secs)");
  }

  // The one record in the state folder `state`, moved out of it.
  static std::string TakeRecord(const std::string& state,
                                const std::string& to) {
    std::vector<fs::path> files;
    for (const auto& file :
         fs::directory_iterator(state + "/ecuprog/records")) {
      files.push_back(file.path());
    }
    EXPECT_EQ(files.size(), 1u);
    if (files.empty()) return "";
    fs::rename(files[0], to);
    return to;
  }

  ProcessResult RunJob(const std::string& bench, const std::string& serial) {
    ProcessSetup job = Job(serial);
    for (auto& [name, value] : job.environment) {
      if (name == "ECUPROG_SIM_BENCH") value = bench;
    }
    job.environment.push_back({"XDG_STATE_HOME", folder_.path() + "/state"});
    return RunProcess(job);
  }
};

// The ready unit, which shows its release, and the unit a cut job left,
// which shows none but has code flash to erase.
TEST_F(ReplayTest, JobAgainstARecordedJobsBenchSeesWhatThatJobSaw) {
  for (const std::string serial : {"4711", "4716"}) {
    SCOPED_TRACE(serial);
    const ProcessResult recorded = RunJob(bench_, serial);
    ASSERT_EQ(recorded.exitCode, 0) << recorded.output;
    const std::string record =
        TakeRecord(folder_.path() + "/state",
                   folder_.path() + "/job-" + serial + ".jsonl");
    const std::string replayBench = folder_.path() + "/replay-" + serial;
    const ProcessResult made =
        RunProcess(Sim({"--make-bench", replayBench, "--from-record", record}));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    EXPECT_NE(made.output.find("the job chose serial number " + serial),
              std::string::npos)
        << made.output;

    const ProcessResult replayed = RunJob(replayBench, serial);
    EXPECT_EQ(replayed.exitCode, 0) << replayed.output;
    EXPECT_EQ(Shown(replayed), Shown(recorded));
    EXPECT_NE(Shown(replayed).find("erasing ... complete"), std::string::npos)
        << replayed.output;
    TakeRecord(folder_.path() + "/state", folder_.path() + "/replayed.jsonl");
  }

  // A record of a later format writes nothing, and says which line.
  std::ifstream in(folder_.path() + "/job-4711.jsonl");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  text.replace(text.find("\"format\":1"), 10, "\"format\":2");
  std::ofstream(folder_.path() + "/later.jsonl") << text;
  const std::string untouched = folder_.path() + "/never-made";
  const ProcessResult refused =
      RunProcess(Sim({"--make-bench", untouched, "--from-record",
                      folder_.path() + "/later.jsonl"}));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.output.find("later.jsonl: line 1: format 2 is of a "
                                "later ecuprog"),
            std::string::npos)
      << refused.output;
  EXPECT_FALSE(fs::exists(untouched));
}

}  // namespace

// The records real jobs leave, read back by ecuprog-records: each way a job
// ends, as the listing names it.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <sstream>

#include "sim/bench_json.h"
#include "tests/e2e/bench_job_test.h"
#include "tests/messages_guide.h"

namespace {

class RecordsEndToEnd : public BenchJobTest {
 protected:
  std::string state() { return folder_.path() + "/state"; }
  ProcessSetup RecordedJob(const std::string& serial) {
    ProcessSetup setup = Job(serial);
    setup.environment.push_back({"XDG_STATE_HOME", state()});
    return setup;
  }
  ProcessResult Records(std::vector<std::string> arguments) {
    ProcessSetup setup;
    setup.argv = {ECUPROG_RECORDS_PATH};
    setup.argv.insert(setup.argv.end(), arguments.begin(), arguments.end());
    setup.environment = {{"XDG_STATE_HOME", state()}};
    setup.terminal = false;
    return RunProcess(setup);
  }
  std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(WithoutCarriageReturns(text));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(RecordsEndToEnd, ListsEachJobAsItEnded) {
  // A job that finished, one refused at the question, one whose server
  // ended in the code write, and one killed in the code erase.
  ASSERT_EQ(RunProcess(RecordedJob("4711")).exitCode, 0);
  ASSERT_EQ(RunProcess(RecordedJob("9999")).exitCode, 1);
  SimBench bench = LoadBench(bench_);
  bench.faults.push_back({"ProgramRegion", SimRegion::kCode, 1u,
                          FaultAction::kExit, std::nullopt, true});
  SaveBench(bench);
  ASSERT_EQ(RunProcess(RecordedJob("4711")).exitCode, 1);
  bench.faults.clear();
  bench.units[0].eraseMs = 2000;
  SaveBench(bench);
  ProcessSetup killed = RecordedJob("4711");
  killed.steps[1] = {"Code flash erase ... erasing ... ", ""};
  killed.steps[1].action = [](int pid) { kill(pid, SIGKILL); };
  ASSERT_EQ(RunProcess(killed).signal, SIGKILL);

  const std::string folder = state() + "/ecuprog/records";
  const ProcessResult listed = Records({});
  ASSERT_EQ(listed.exitCode, 0) << listed.output;
  const std::vector<std::string> lines = Lines(listed.output);
  ASSERT_EQ(lines.size(), 5u) << listed.output;
  const std::string unit =
      "W3#4711 +Simulated test cell 1 +1\\.463\\.1 \\(unit had ";
  const char* const outcomes[] = {
      "none\\) +Werkstatt München +cut during code flash erase",
      "1\\.463\\.1\\) +Werkstatt München +stopped at code flash program: "
      "ERROR "
      "COMMUNICATING WITH SERVER",
      "",
      "1\\.462\\.7\\) +Werkstatt München +finished",
  };
  for (size_t i = 0; i < 4; ++i) {
    const std::string expected =
        outcomes[i][0] == '\0'
            ? " +1\\.463\\.1 +refused: THAT SERIAL NUMBER IS NOT IN THE LIST "
              "OF DEVICES FOUND$"
            : unit + outcomes[i] + "$";
    EXPECT_TRUE(std::regex_search(lines[i + 1], std::regex(expected)))
        << lines[i + 1] << "\nis not\n"
        << expected;
  }
  // The operator's guide quotes the outcome of a run cut in the code erase.
  EXPECT_NE(ReadGuideText(std::string(ECUPROG_SOURCE_DIR) + "/MESSAGES.txt")
                .find("\"cut during code flash erase\""),
            std::string::npos);

  const ProcessResult csv = Records({"--csv", "--unit", "4711", folder});
  EXPECT_EQ(csv.exitCode, 0);
  EXPECT_EQ(Lines(csv.output).size(), 4u) << csv.output;
}

}  // namespace

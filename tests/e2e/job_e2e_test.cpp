// Whole programming jobs: the built tool against the simulated server in
// its own process, started through the tool's COM activation.
#include <cryptopp/zlib.h>
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <iterator>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "sim/bench_json.h"
#include "sim/temp_folder.h"
#include "tests/e2e/process_runner.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> EmbeddedCodeImage() {
  std::vector<uint8_t> stream =
      ReadFile(std::string(ECUPROG_SOURCE_DIR) + "/resources/w3_code.zlib");
  CryptoPP::ZlibDecompressor inflater;
  inflater.PutMessageEnd(stream.data(), stream.size());
  std::vector<uint8_t> image(inflater.MaxRetrievable());
  inflater.Get(image.data(), image.size());
  return image;
}

class JobEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    BuildCrcTable();
    bench_ = folder_.path() + "/bench";
    ProcessSetup setup = Sim({"--register"});
    ASSERT_EQ(RunProcess(setup).exitCode, 0);
    ASSERT_EQ(RunProcess(Sim({"--make-bench", bench_, "--instant"})).exitCode,
              0);
  }
  ProcessSetup Sim(std::vector<std::string> arguments) {
    ProcessSetup setup;
    setup.argv = {ECUPROG_SIM_PATH};
    setup.argv.insert(setup.argv.end(), arguments.begin(), arguments.end());
    setup.environment = Environment();
    setup.terminal = false;
    return setup;
  }
  std::vector<std::pair<std::string, std::string>> Environment() {
    return {{"ECUPROG_COM_REGISTRY", folder_.path() + "/registry"},
            {"ECUPROG_SIM_BENCH", bench_}};
  }
  // The operator types the serial number at the question and then a space.
  ProcessSetup Job(const std::string& serial) {
    ProcessSetup setup;
    setup.argv = {ECUPROG_PATH};
    setup.environment = Environment();
    setup.steps = {{"you wish to program : ", serial + "\n"},
                  {"Press space to exit", " "}};
    return setup;
  }
  void AddFault(SimFault fault) {
    SimBench bench = LoadBench(bench_);
    bench.faults.push_back(fault);
    SaveBench(bench);
  }

  TempFolder folder_;
  std::string bench_;
};

TEST_F(JobEndToEnd, ProgramsTheReadyUnit) {
  uint32_t before = static_cast<uint32_t>(std::time(nullptr));
  ProcessResult result = RunProcess(Job("4711"));
  uint32_t after = static_cast<uint32_t>(std::time(nullptr));
  ASSERT_FALSE(result.timedOut) << result.output;
  EXPECT_EQ(result.exitCode, 0);
  std::string output = WithoutCarriageReturns(result.output);
  for (const char* expected : {
           "\nReady to program W3 firmware release 1.463.1\n"
           "Found : W3#4711 (",
           "Found : W3 (NO SERIAL NUMBER) BootV1.40 NOT READY FOR CODE "
           "PROGRAMMING\n",
           "(BAD BOOT CODE) NOT READY FOR CODE PROGRAMMING\n",
           "Please enter the serial number of the device you wish to program "
           ": 4711\nAccess as ",
           "\nCode flash erase ... ",
           "\nCode flash program ... complete (",
           "\nStore flash erase ... ",
           "\nStore flash program ... complete (",
           "\nReset request ... accepted\nPROGRAMMING SUCCESSFUL\n"
           "Press space to exit\n"}) {
    EXPECT_NE(output.find(expected), std::string::npos)
        << "missing: " << expected << "\nin:\n" << output;
  }

  // The code flash holds the restamped image: intact, stamped within the
  // run, and otherwise the image the tool carries.
  std::vector<uint8_t> image = EmbeddedCodeImage();
  std::vector<uint8_t> code = ReadFile(bench_ + "/w3-bay1-code.bin");
  ASSERT_GE(code.size(), image.size());
  code.resize(image.size());
  EXPECT_EQ(BlockCrc(code.data(), code.size() / 4), 0u);
  BlockHeader header(code.data() + kCodeHeaderOffset);
  EXPECT_GE(header.programTime(), before);
  EXPECT_LE(header.programTime(), after);
  for (size_t i = 0; i < image.size(); ++i) {
    bool stamped = (i >= 308 && i < 312) || i >= image.size() - 4;
    if (!stamped && code[i] != image[i]) {
      ADD_FAILURE() << "code flash differs at " << i;
      break;
    }
  }
  // The store flash holds the profile byte for byte.
  std::vector<uint8_t> profile =
      ReadFile(std::string(ECUPROG_SOURCE_DIR) + "/resources/w3_profile.bin");
  std::vector<uint8_t> store = ReadFile(bench_ + "/w3-bay1-store.bin");
  ASSERT_GE(store.size(), profile.size());
  EXPECT_TRUE(std::equal(profile.begin(), profile.end(), store.begin()));

  // The unit now reports the release it was given.
  ProcessResult again = RunProcess(Job("4711"));
  EXPECT_NE(again.output.find("BootV1.40 CodeV1.463.1"), std::string::npos)
      << again.output;
}

TEST_F(JobEndToEnd, AServerThatDiesEndsTheRunWithinSeconds) {
  // Killed from outside while the operator is being asked.
  ProcessSetup killed = Job("4711");
  killed.steps[0].action = KillChildren;
  killed.timeoutSeconds = 15;
  ProcessResult result = RunProcess(killed);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.output.find("ERROR COMMUNICATING WITH SERVER"),
            std::string::npos)
      << result.output;

  // Ending by itself in the middle of programming the code flash.
  AddFault({"ProgramRegion", SimRegion::kCode, 1u, FaultAction::kExit,
            std::nullopt, true});
  result = RunProcess(Job("4711"));
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(WithoutCarriageReturns(result.output)
                .find("Code flash program ... ERROR COMMUNICATING WITH SERVER\n"),
            std::string::npos)
      << result.output;
  // The store flash was never touched.
  std::vector<uint8_t> store = ReadFile(bench_ + "/w3-bay1-store.bin");
  std::vector<uint8_t> profile =
      ReadFile(std::string(ECUPROG_SOURCE_DIR) + "/resources/w3_profile.bin");
  EXPECT_FALSE(std::equal(profile.begin(), profile.end(), store.begin()));
}

TEST_F(JobEndToEnd, TheSerialNumberMayComeThroughAPipe) {
  ProcessSetup setup = Job("");
  setup.pipeInput = true;
  setup.input = "  04711\n";
  setup.steps = {{"Press space to exit", " "}};
  ProcessResult result = RunProcess(setup);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0) << result.output;
}

TEST_F(JobEndToEnd, AnswersThatAreNoSerialNumberEndTheRunCleanly) {
  // 4294971607 is 4711 plus 2 to the 32nd: it must not wrap onto the unit.
  for (const char* answer : {"", "garbage\n", "4294971607\n", "\n\n\n"}) {
    SCOPED_TRACE(answer);
    ProcessSetup setup = Job("");
    setup.terminal = false;
    setup.pipeInput = true;
    setup.input = answer;
    setup.steps.clear();
    ProcessResult result = RunProcess(setup);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find("THAT SERIAL NUMBER IS NOT IN THE LIST OF "
                                 "DEVICES FOUND\nPress space to exit\n"),
              std::string::npos)
        << result.output;
  }
}

}  // namespace

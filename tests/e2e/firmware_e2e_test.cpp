// The built tool up to its first contact with the server: the firmware it
// carries, the final wait, and a machine where no server is registered.
#include <gtest/gtest.h>

#include "sim/temp_folder.h"
#include "tests/e2e/process_runner.h"

namespace {

class FirmwareEndToEnd : public testing::Test {
 protected:
  ProcessSetup Tool(const char* path) {
    ProcessSetup setup;
    setup.argv = {path};
    // An empty registry: no programming server can be found.
    setup.environment = {{"ECUPROG_COM_REGISTRY", registry_.path()},
                         {"ECUPROG_SIM_BENCH", registry_.path() + "/bench"}};
    return setup;
  }
  TempFolder registry_;
};

TEST_F(FirmwareEndToEnd, AnnouncesTheReleaseThenFindsNoServer) {
  for (bool withArguments : {false, true}) {
    ProcessSetup setup = Tool(ECUPROG_PATH);
    setup.terminal = false;
    if (withArguments) setup.argv.insert(setup.argv.end(), {"--help", "42"});
    ProcessResult result = RunProcess(setup);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_LT(result.seconds, 10);
    std::string output = result.output;
    EXPECT_EQ(output.substr(0, 8), "ecuprog ");
    EXPECT_NE(output.find("\nReady to program W3 firmware release 1.463.1\n"
                          "ERROR COMMUNICATING WITH SERVER\n"
                          "Press space to exit\n"),
              std::string::npos)
        << output;
  }
}

TEST_F(FirmwareEndToEnd, DamagedBlocksStopBeforeTheReleaseLine) {
  struct Case {
    const char* program;
    const char* message;
  };
  const Case cases[] = {
      {ECUPROG_DAMAGED_CODE_PATH, "CODE BLOCK CRC CHECK FAILED"},
      {ECUPROG_DAMAGED_PROFILE_PATH, "PROFILE CRC CHECK FAILED"}};
  for (const Case& c : cases) {
    ProcessSetup setup = Tool(c.program);
    setup.terminal = false;
    ProcessResult result = RunProcess(setup);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find(std::string("\n") + c.message +
                                 "\nPress space to exit\n"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("Ready to program"), std::string::npos);
  }
}

TEST_F(FirmwareEndToEnd, FinalWaitSwallowsKeysUntilSpace) {
  ProcessSetup setup = Tool(ECUPROG_PATH);
  setup.steps = {{"Press space to exit", "abc\n"}, {"", " ", 0.5}};
  ProcessResult result = RunProcess(setup);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.stepsDone, 2u) << "ended before the space";
  EXPECT_EQ(result.exitCode, 1);
  std::string output = WithoutCarriageReturns(result.output);
  size_t prompt = output.find("Press space to exit\n");
  ASSERT_NE(prompt, std::string::npos) << output;
  // Nothing typed is echoed.
  EXPECT_EQ(output.substr(prompt), "Press space to exit\n");
}

TEST_F(FirmwareEndToEnd, TerminalClosedDuringFinalWaitEndsTheRun) {
  ProcessSetup setup = Tool(ECUPROG_PATH);
  setup.steps = {{"Press space to exit", "x"}};
  setup.hangUpAfterSteps = true;
  setup.timeoutSeconds = 30;
  ProcessResult result = RunProcess(setup);
  EXPECT_FALSE(result.timedOut);
}

}  // namespace

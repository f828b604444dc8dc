// The built tool up to its first contact with the server: the firmware it
// carries, the final wait, and a machine where no server is registered.
#include <gtest/gtest.h>

#include "sim/temp_folder.h"
#include "tests/e2e/process_runner.h"

namespace {

class FirmwareEndToEnd : public testing::Test {
 protected:
  ProcessSpec Tool(const char* path) {
    ProcessSpec spec;
    spec.argv = {path};
    // An empty registry: no programming server can be found.
    spec.environment = {{"ECUPROG_COM_REGISTRY", registry_.path()},
                        {"ECUPROG_SIM_BENCH", registry_.path() + "/bench"}};
    return spec;
  }
  TempFolder registry_;
};

TEST_F(FirmwareEndToEnd, AnnouncesTheReleaseThenFindsNoServer) {
  for (bool withArguments : {false, true}) {
    ProcessSpec spec = Tool(ECUPROG_PATH);
    spec.terminal = false;
    if (withArguments) spec.argv.insert(spec.argv.end(), {"--help", "42"});
    ProcessResult result = RunProcess(spec);
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
  const Case cases[] = {{ECUPROG_DAMAGED_CODE_PATH, "CODE BLOCK CRC CHECK FAILED"},
                        {ECUPROG_DAMAGED_PROFILE_PATH, "PROFILE CRC CHECK FAILED"}};
  for (const Case& c : cases) {
    ProcessSpec spec = Tool(c.program);
    spec.terminal = false;
    ProcessResult result = RunProcess(spec);
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
  ProcessSpec spec = Tool(ECUPROG_PATH);
  spec.steps = {{"Press space to exit", "abc\n"}, {"", " ", 0.5}};
  ProcessResult result = RunProcess(spec);
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
  ProcessSpec spec = Tool(ECUPROG_PATH);
  spec.steps = {{"Press space to exit", "x"}};
  spec.hangUpAfterSteps = true;
  spec.timeoutSeconds = 10;
  ProcessResult result = RunProcess(spec);
  EXPECT_FALSE(result.timedOut);
}

}  // namespace

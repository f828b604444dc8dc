// The final wait under a terminal: control keys are keys, and a signal that
// ends the tool while the terminal is raw leaves the terminal as it was.
// The tool runs in a pseudo-terminal of its own, as its foreground process
// group; with no server registered it stops at once and waits.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "sim/temp_folder.h"
#include "tests/e2e/process_runner.h"

namespace {

class FinalWaitEndToEnd : public testing::Test {
 protected:
  // A run that stops with "ERROR COMMUNICATING WITH SERVER" and waits.
  ProcessSetup Run(const std::string& keys) {
    ProcessSetup setup;
    setup.argv = {ECUPROG_PATH};
    setup.environment = {{"ECUPROG_COM_REGISTRY", folder_.path()}};
    // Long enough for the terminal to be raw when the key comes.
    setup.steps = {{"Press space to exit", keys, 0.3}};
    setup.timeoutSeconds = 30;
    return setup;
  }
  TempFolder folder_;
};

TEST_F(FinalWaitEndToEnd, ControlKeysAreSwallowedLikeAnyOtherKey) {
  // ^C, ^\, ^Z, ^S and ^Q, then a letter, then the space.
  ProcessResult result = RunProcess(Run("\x03\x1c\x1a\x13\x11x "));
  ASSERT_FALSE(result.timedOut) << result.output;
  EXPECT_EQ(result.signal, 0) << result.output;
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_NE(result.output.find("ERROR COMMUNICATING WITH SERVER"),
            std::string::npos);
  EXPECT_EQ(result.terminalAfter, result.terminalBefore);
}

TEST_F(FinalWaitEndToEnd, EndingSignalsPutTheTerminalBackFirst) {
  for (int signal : {SIGTERM, SIGHUP, SIGQUIT, SIGINT}) {
    SCOPED_TRACE(signal);
    ProcessSetup setup = Run("");
    setup.steps[0].action = [signal](int pid) { kill(pid, signal); };
    ProcessResult result = RunProcess(setup);
    ASSERT_FALSE(result.timedOut) << result.output;
    // Still ended by the signal, as its sender meant.
    EXPECT_EQ(result.signal, signal) << result.output;
    EXPECT_FALSE(result.terminalBefore.empty());
    EXPECT_EQ(result.terminalAfter, result.terminalBefore);
  }
}

}  // namespace

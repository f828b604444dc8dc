// The fixture of the tests that run whole jobs: the simulator registered in
// a registry of the test's own, an instant default bench of its own, and
// the tool run as the operator would run it.
#ifndef ECUPROG_TESTS_E2E_BENCH_JOB_TEST_H
#define ECUPROG_TESTS_E2E_BENCH_JOB_TEST_H

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sim/temp_folder.h"
#include "tests/e2e/process_runner.h"

class BenchJobTest : public testing::Test {
 protected:
  void SetUp() override {
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

  TempFolder folder_;
  std::string bench_;
};

#endif  // ECUPROG_TESTS_E2E_BENCH_JOB_TEST_H

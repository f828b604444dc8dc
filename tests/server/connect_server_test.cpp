#include "server/connect_server.h"

#include "tests/sim_fixture.h"

namespace {

class ConnectServerTest : public SimFixture {
 protected:
  // A profile-like block: the server must get it byte for byte.
  std::vector<uint8_t> Profile(size_t length) {
    std::vector<uint8_t> profile(length);
    for (size_t i = 0; i < length; ++i) {
      profile[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    }
    return profile;
  }
  PhaseOutcome Connect(const std::vector<uint8_t>& profile) {
    return Run([&] { ConnectServer(profile.data(), profile.size()); });
  }
};

TEST_F(ConnectServerTest, RefusesServersOlderThanOnePointFive) {
  struct Case {
    USHORT major, minor;
    bool refused;
  };
  const Case cases[] = {{0, 9, true},   {1, 4, true},  {1, 5, false},
                        {1, 65535, false}, {2, 0, false}, {2, 4, false},
                        {0, 65535, true}};
  std::vector<uint8_t> profile = Profile(1024);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor);
    SimBench bench = Bench();
    bench.versionMajor = c.major;
    bench.versionMinor = c.minor;
    Start(bench);
    PhaseOutcome outcome = Connect(profile);
    EXPECT_EQ(outcome.stopped, c.refused);
    if (c.refused) {
      EXPECT_EQ(outcome.message,
                "UNABLE TO CONTINUE - REQUIRE SERVER VERSION 1.5+");
      EXPECT_EQ(state().CallCount("SetProfile"), 0u);
    } else {
      // A successful connection writes nothing.
      EXPECT_EQ(outcome.output, "");
    }
  }
}

TEST_F(ConnectServerTest, HandsOverTheWholeProfileByteForByte) {
  Start(Bench());
  std::vector<uint8_t> profile = Profile(251736);
  ASSERT_FALSE(Connect(profile).stopped);
  ASSERT_TRUE(state().Profile().has_value());
  EXPECT_EQ(*state().Profile(), profile);
  // Element count, lower bound 0, element type VT_UI1.
  std::vector<SimCall> calls = state().Calls("SetProfile");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, (std::vector<int64_t>{251736, 0, VT_UI1}));
  // The profile goes over once, after the version was asked.
  std::vector<std::string> operations;
  for (const SimCall& call : state().Calls()) {
    if (call.operation != "Release") operations.push_back(call.operation);
  }
  EXPECT_EQ(operations,
            (std::vector<std::string>{"CreateInstance", "GetVersion",
                                      "SetProfile"}));
}

TEST_F(ConnectServerTest, CreationFailureAndCreationWithoutObjectDiffer) {
  std::vector<uint8_t> profile = Profile(1024);
  // Nothing registered at all.
  PhaseOutcome missing = Connect(profile);
  EXPECT_EQ(missing.message, "ERROR COMMUNICATING WITH SERVER");
  EXPECT_EQ(missing.exitCode, 1);

  SimBench bench = Bench();
  bench.faults.push_back({"CreateInstance", std::nullopt, std::nullopt,
                          FaultAction::kEmptyOutput, std::nullopt, false});
  Start(bench);
  EXPECT_EQ(Connect(profile).message, "COULD NOT CONNECT TO TALQUIN SERVER");

  bench.faults = {{"CreateInstance", std::nullopt, std::nullopt,
                   FaultAction::kResultCode, int64_t{E_FAIL}, false}};
  Start(bench);
  EXPECT_EQ(Connect(profile).message, "ERROR COMMUNICATING WITH SERVER");
}

TEST_F(ConnectServerTest, NegativeResultsStopEvenWithGoodOutputs) {
  for (const char* operation : {"GetVersion", "SetProfile"}) {
    SCOPED_TRACE(operation);
    SimBench bench = Bench();
    bench.faults = {{operation, std::nullopt, std::nullopt,
                     FaultAction::kResultCode,
                     int64_t{static_cast<HRESULT>(0x80000001)}, false}};
    Start(bench);
    std::vector<uint8_t> profile = Profile(1024);
    PhaseOutcome outcome = Connect(profile);
    EXPECT_EQ(outcome.message, "ERROR COMMUNICATING WITH SERVER");
    EXPECT_EQ(outcome.output,
              "ERROR COMMUNICATING WITH SERVER\nPress space to exit\n");
  }
}

}  // namespace

#include "programming/program_unit.h"

#include "tests/sim_fixture.h"

namespace {

// Fast polling for tests; the erase limit is short enough to test.
constexpr ErasePolling kTestPolling = {1, 1, 200};

class ProgramUnitTest : public SimFixture {
 protected:
  // Starts a unit whose flash holds data, so each region is erased.
  void StartWith(std::vector<SimFault> faults, uint32_t eraseMs = 0,
                 uint32_t erasePolls = 1, bool blank = false) {
    SimBench bench = Bench();
    SimUnit unit = FlashUnit("unit", 42);
    unit.eraseMs = eraseMs;
    unit.erasePolls = erasePolls;
    bench.units = {unit};
    bench.faults = std::move(faults);
    Start(bench);
    if (!blank) FillFlash("unit");
  }
  // Acquires the interfaces, then programs `image` and `profile`.
  PhaseOutcome Program(const std::vector<uint8_t>& image,
                       const std::vector<uint8_t>& profile) {
    ComRef<ProgrammingServer> root = Root();
    DeviceRecord unit = RecordOf(*server_, "unit");
    UnitInterfaces interfaces;
    PhaseOutcome acquired = Run(
        [&] { AcquireDeviceInterfaces(root.get(), unit, 0, &interfaces); });
    EXPECT_FALSE(acquired.stopped) << acquired.output;
    PhaseOutcome outcome = Run([&] {
      ProgramUnit(&interfaces, unit, image.data(), image.size(),
                  profile.data(), profile.size(), kTestPolling);
    });
    codeReleased_ = !interfaces.code;
    return outcome;
  }
  std::vector<uint8_t> Image() const { return std::vector<uint8_t>(4096, 0x5A); }
  std::vector<uint8_t> ProfileBytes() const {
    return std::vector<uint8_t>(2048, 0xA5);
  }
  bool codeReleased_ = false;
};

// Takes out the timings, which differ from run to run.
std::string Untimed(std::string output) {
  size_t at;
  while ((at = output.find("complete (")) != std::string::npos) {
    size_t end = output.find("secs)\n", at);
    output.replace(at, end + 6 - at, "complete <t>\n");
  }
  return output;
}

TEST_F(ProgramUnitTest, ProgramsCodeThenStoreThenResets) {
  StartWith({}, /*eraseMs=*/0, /*erasePolls=*/2);
  std::vector<uint8_t> image = Image();
  std::vector<uint8_t> profile = ProfileBytes();
  PhaseOutcome outcome = Program(image, profile);
  EXPECT_FALSE(outcome.stopped) << outcome.output;
  EXPECT_EQ(Untimed(outcome.output),
            "Code flash erase ... erasing ... complete <t>\n"
            "Code flash program ... complete <t>\n"
            "Store flash erase ... erasing ... complete <t>\n"
            "Store flash program ... complete <t>\n"
            "Reset request ... accepted\n");
  EXPECT_TRUE(codeReleased_);

  std::vector<uint8_t> code = state().ReadFlash("unit", SimRegion::kCode);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), code.begin()));
  std::vector<uint8_t> store = state().ReadFlash("unit", SimRegion::kStore);
  EXPECT_TRUE(std::equal(profile.begin(), profile.end(), store.begin()));

  std::vector<SimCall> erases = state().Calls("StartErase");
  ASSERT_EQ(erases.size(), 2u);
  EXPECT_EQ(erases[0].args, (std::vector<int64_t>{0x10000, 4096}));
  EXPECT_EQ(erases[1].args, (std::vector<int64_t>{0, 2048}));
  // Two groups: the same key, two identifiers.
  std::vector<SimCall> groups = state().Calls("AcquireGroup");
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].args, (std::vector<int64_t>{0x00C0FFEE}));
  EXPECT_EQ(groups[1].args, groups[0].args);
  EXPECT_NE(groups[0].bytes, groups[1].bytes);
  // The code programming interface goes before the store region starts.
  std::vector<SimCall> all = state().Calls();
  size_t released = 0, storeGroup = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].operation == "Release" && released == 0) released = i;
    if (all[i].operation == "AcquireGroup" &&
        all[i].region == SimRegion::kStore) {
      storeGroup = i;
    }
  }
  EXPECT_LT(released, storeGroup);
}

TEST_F(ProgramUnitTest, ABlankRegionIsNotErased) {
  StartWith({}, 0, 1, /*blank=*/true);
  PhaseOutcome outcome = Program(Image(), ProfileBytes());
  EXPECT_EQ(Untimed(outcome.output),
            "Code flash erase ... already blank\n"
            "Code flash program ... complete <t>\n"
            "Store flash erase ... already blank\n"
            "Store flash program ... complete <t>\n"
            "Reset request ... accepted\n");
  EXPECT_EQ(state().CallCount("PollErase"), 0u);
}

struct FailureCase {
  const char* operation;
  FaultAction action;
  int64_t value;
  const char* codeLine;   // what the code region's failure leaves
  const char* storeLine;  // the same for the store region
};

TEST_F(ProgramUnitTest, EachRegionFailureStopsWithItsMessage) {
  const char* kComm = "ERROR COMMUNICATING WITH SERVER";
  const FailureCase cases[] = {
      {"AcquireGroup", FaultAction::kResultCode, E_FAIL, kComm, kComm},
      {"AcquireGroup", FaultAction::kStatus, 1,
       "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE",
       "COULD NOT ACQUIRE STORE PROGRAMMING GROUP AT DEVICE"},
      {"StartErase", FaultAction::kResultCode, E_FAIL,
       "Code flash erase ... ERROR COMMUNICATING WITH SERVER",
       "Store flash erase ... ERROR COMMUNICATING WITH SERVER"},
      {"StartErase", FaultAction::kStatus, 1,
       "Code flash erase ... CODE FLASH ERASE FAILED",
       "Store flash erase ... STORE FLASH ERASE FAILED"},
      {"PollErase", FaultAction::kResultCode, E_FAIL,
       "Code flash erase ... erasing ... ERROR COMMUNICATING WITH SERVER",
       "Store flash erase ... erasing ... ERROR COMMUNICATING WITH SERVER"},
      {"PollErase", FaultAction::kStatus, 5,
       "Code flash erase ... erasing ... CODE FLASH ERASE FAILED",
       "Store flash erase ... erasing ... STORE FLASH ERASE FAILED"},
      {"ProgramRegion", FaultAction::kResultCode, E_FAIL,
       "Code flash program ... ERROR COMMUNICATING WITH SERVER",
       "Store flash program ... ERROR COMMUNICATING WITH SERVER"},
      {"ProgramRegion", FaultAction::kStatus, 3,
       "Code flash program ... CODE FLASH PROGRAM FAILED",
       "Store flash program ... STORE FLASH PROGRAM FAILED"},
  };
  for (const FailureCase& c : cases) {
    for (SimRegion region : {SimRegion::kCode, SimRegion::kStore}) {
      SCOPED_TRACE(testing::Message() << c.operation << " " << c.value << " "
                                      << RegionName(region));
      StartWith({{c.operation, region, 1u, c.action, c.value, false}},
                /*eraseMs=*/0, /*erasePolls=*/1);
      PhaseOutcome outcome = Program(Image(), ProfileBytes());
      std::string line =
          region == SimRegion::kCode ? c.codeLine : c.storeLine;
      EXPECT_EQ(outcome.exitCode, 1);
      EXPECT_NE(outcome.output.find(line + "\nPress space to exit\n"),
                std::string::npos)
          << outcome.output;
      EXPECT_EQ(state().CallCount("ResetDevice"), 0u);
      if (region == SimRegion::kCode) {
        // The store region is left untouched: not even erased.
        EXPECT_EQ(state().CallCount("AcquireGroup", SimRegion::kStore), 0u);
        std::vector<uint8_t> store =
            state().ReadFlash("unit", SimRegion::kStore);
        EXPECT_EQ(store, std::vector<uint8_t>(store.size(), 0x00));
      }
    }
  }
}

TEST_F(ProgramUnitTest, ResetRejectedAfterBothRegions) {
  for (FaultAction action : {FaultAction::kStatus, FaultAction::kResultCode}) {
    int64_t value = action == FaultAction::kStatus ? 1 : int64_t{E_FAIL};
    StartWith({{"ResetDevice", std::nullopt, std::nullopt, action, value,
                false}});
    PhaseOutcome outcome = Program(Image(), ProfileBytes());
    EXPECT_EQ(outcome.exitCode, 1);
    std::string expected = action == FaultAction::kStatus
                               ? "RESET REJECTED"
                               : "ERROR COMMUNICATING WITH SERVER";
    EXPECT_NE(outcome.output.find("Store flash program ... complete"),
              std::string::npos);
    EXPECT_NE(outcome.output.find("Reset request ... " + expected + "\n"),
              std::string::npos)
        << outcome.output;
  }
}

TEST_F(ProgramUnitTest, ErasesThatNeverEndAreGivenUp) {
  StartWith({}, /*eraseMs=*/60000);
  PhaseOutcome outcome = Program(Image(), ProfileBytes());
  EXPECT_NE(outcome.output.find("Code flash erase ... erasing ... "
                                "CODE FLASH ERASE TIMED OUT\n"),
            std::string::npos)
      << outcome.output;
}

TEST(ReportCompletionTest, WritesSecondsOrCompleteWithoutATimer) {
  struct Case {
    LONGLONG start, end, frequency;
    const char* text;
  };
  const Case cases[] = {{0, 0, 0, "complete\n"},
                        {100, 5000, 0, "complete\n"},
                        {1000, 2234, 1000, "complete (1.234secs)\n"},
                        {0, 1500000000, 1000000000, "complete (1.500secs)\n"},
                        {5, 5, 1000, "complete (0.000secs)\n"}};
  for (const Case& c : cases) {
    PhaseOutcome outcome =
        RunPhase([&] { ReportCompletion(c.start, c.end, c.frequency); });
    EXPECT_EQ(outcome.output, c.text);
  }
}

}  // namespace

#include "server/select_device.h"

#include "sim/record_writer.h"
#include "tests/sim_fixture.h"

namespace {

const char kQuestion[] =
    "Please enter the serial number of the device you wish to program : ";

class SelectDeviceTest : public SimFixture {
 protected:
  PhaseOutcome Select(const std::string& answer,
                      DeviceRecord* chosen = nullptr) {
    ComRef<ProgrammingServer> root = Root();
    return Run(
        [&] {
          DeviceRecord record = SelectDevice(root.get(), "W3");
          if (chosen) *chosen = record;
        },
        answer);
  }
  // Units made from one template stand at places of their own: the n-th
  // unit's address and keys are raised by n.
  void StartWith(std::vector<SimUnit> units,
                 std::vector<SimFault> faults = {}) {
    SimBench bench = Bench();
    for (size_t n = 0; n < units.size(); ++n) {
      units[n].unitAddressC = static_cast<uint16_t>(units[n].unitAddressC + n);
      units[n].unitKeyB = static_cast<uint16_t>(units[n].unitKeyB + n);
    }
    bench.units = std::move(units);
    bench.faults = std::move(faults);
    Start(bench);
  }
};

TEST_F(SelectDeviceTest, EachStateThresholdShapesTheLine) {
  struct Case {
    uint16_t state;
    const char* line;
    bool candidate;
  };
  const Case cases[] = {
      {90, "Found : W3 (NO SERIAL NUMBER) (BAD BOOT CODE) NOT READY FOR CODE "
           "PROGRAMMING",
       false},
      {100, "Found : W3 (NO SERIAL NUMBER) (BAD BOOT CODE) NOT READY FOR CODE "
            "PROGRAMMING",
       false},
      {101, "Found : W3 (NO SERIAL NUMBER) BootV1.40 NOT READY FOR CODE "
            "PROGRAMMING",
       false},
      {700, "Found : W3 (NO SERIAL NUMBER) BootV1.40 NOT READY FOR CODE "
            "PROGRAMMING",
       false},
      {701, "Found : W3#0042 BootV1.40 NOT READY FOR CODE PROGRAMMING", false},
      {800, "Found : W3#0042 BootV1.40 NOT READY FOR CODE PROGRAMMING", false},
      {801, "Found : W3#0042 (Bay) BootV1.40 NOT READY FOR CODE PROGRAMMING",
       false},
      {999, "Found : W3#0042 (Bay) BootV1.40 NOT READY FOR CODE PROGRAMMING",
       false},
      {1000, "Found : W3#0042 (Bay) BootV1.40", true},
      {1001, "Found : W3#0042 (Bay) BootV1.40 CodeV1.462.7", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    SimUnit unit = ReadyUnit("unit", 42);
    unit.unitState = c.state;
    StartWith({unit});
    PhaseOutcome outcome = Select("42\n");
    std::string line = std::string(c.line) + "\n";
    if (c.candidate) {
      EXPECT_FALSE(outcome.stopped) << outcome.output;
      EXPECT_EQ(outcome.output, line + kQuestion);
    } else {
      // Not asked: nothing can be chosen.
      EXPECT_EQ(outcome.output, line +
                                    "NO DEVICES AVAILABLE TO PROGRAM\n"
                                    "Press space to exit\n");
    }
  }
}

TEST_F(SelectDeviceTest, DetectionArrayIsCheckedBeforeAnyLine) {
  struct Case {
    const char* what;
    std::vector<SimFault> faults;
    size_t units;
    const char* message;
  };
  auto fault = [](FaultAction action, std::optional<int64_t> value) {
    return SimFault{"DetectDevices", std::nullopt, std::nullopt, action,
                    value, false};
  };
  const Case cases[] = {
      {"no units", {}, 0, "NO DEVICES FOUND"},
      {"2511 bytes", {fault(FaultAction::kBadLength, 2511)}, 2,
       "DEVICE DETECT RESPONSE INVALID"},
      {"words", {fault(FaultAction::kWrongElementType, VT_UI2)}, 2,
       "DEVICE DETECT RESPONSE INVALID"},
      {"no array", {fault(FaultAction::kEmptyOutput, std::nullopt)}, 2,
       "DEVICE DETECT RESPONSE INVALID"},
      {"failure", {fault(FaultAction::kResultCode, int64_t{E_FAIL})}, 2,
       "ERROR COMMUNICATING WITH SERVER"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<SimUnit> units;
    for (size_t i = 0; i < c.units; ++i) {
      units.push_back(ReadyUnit("unit" + std::to_string(i), 42));
    }
    StartWith(units, c.faults);
    PhaseOutcome outcome = Select("42\n");
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.output,
              std::string(c.message) + "\nPress space to exit\n");
  }
}

TEST_F(SelectDeviceTest, TwoRecordsGiveTwoLines) {
  StartWith({ReadyUnit("a", 41), ReadyUnit("b", 42)});
  DeviceRecord chosen;
  PhaseOutcome outcome = Select("41\n", &chosen);
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(outcome.output,
            std::string("Found : W3#0041 (Bay) BootV1.40 CodeV1.462.7\n"
                        "Found : W3#0042 (Bay) BootV1.40 CodeV1.462.7\n") +
                kQuestion);
  EXPECT_EQ(chosen.serialNumber(), 41);
}

TEST_F(SelectDeviceTest, OnlyReadyUnitsOfTheTargetModelCanBeChosen) {
  SimUnit other = ReadyUnit("other", 50);
  other.modelName = "W17";
  SimUnit lower = ReadyUnit("lower", 51);
  lower.modelName = "w3";
  SimUnit notReady = ReadyUnit("notready", 52);
  notReady.unitState = 999;
  StartWith({ReadyUnit("ready", 53), other, lower, notReady});
  for (const char* answer : {"50\n", "51\n", "52\n"}) {
    SCOPED_TRACE(answer);
    PhaseOutcome outcome = Select(answer);
    EXPECT_EQ(outcome.message,
              "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND");
  }
  // The other model is listed without any note.
  PhaseOutcome outcome = Select("53\n");
  EXPECT_FALSE(outcome.stopped);
  EXPECT_NE(outcome.output.find(
                "Found : W17#0050 (Bay) BootV1.40 CodeV1.462.7\n"),
            std::string::npos);
}

TEST_F(SelectDeviceTest, AnswersAreReadAsADecimalNumber) {
  struct Case {
    const char* answer;
    bool chosen;
  };
  const Case cases[] = {{"42\n", true},       {"0042\n", true},
                        {"   42\n", true},    {"\n\n  \n42\n", true},
                        {"42abc\n", true},    {"abc\n", false},
                        {"", false},          {"4294967338\n", false},
                        {"-42\n", false},     {"99999999999999999999\n", false}};
  StartWith({ReadyUnit("unit", 42)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    PhaseOutcome outcome = Select(c.answer);
    EXPECT_EQ(outcome.stopped, !c.chosen);
    if (!c.chosen) {
      EXPECT_EQ(outcome.message,
                "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND");
    }
  }
}

TEST_F(SelectDeviceTest, TheLaterOfTwoUnitsWithOneSerialIsChosen) {
  SimUnit first = ReadyUnit("first", 42);
  SimUnit second = ReadyUnit("second", 42);
  second.unitAddressA = 0x22;
  StartWith({first, second});
  DeviceRecord chosen;
  ASSERT_FALSE(Select("42\n", &chosen).stopped);
  EXPECT_EQ(chosen.unitAddressA(), 0x22u);
  // The whole record is kept, byte for byte.
  DeviceRecord expected = RecordOf(*server_, "second");
  EXPECT_EQ(std::memcmp(chosen.bytes, expected.bytes, kDeviceRecordSize), 0);
}

TEST_F(SelectDeviceTest, TextsWithoutTheirNulPrintOnlyTheirField) {
  SimUnit unit = ReadyUnit("unit", 42);
  unit.modelName = std::string(32, 'M');
  unit.unitLabel = std::string(device_record::kUnitLabelSize, 'L');
  StartWith({unit});
  PhaseOutcome outcome = Select("42\n");
  EXPECT_EQ(outcome.output,
            "Found : " + std::string(32, 'M') + "#0042 (" +
                std::string(device_record::kUnitLabelSize, 'L') +
                ") BootV1.40 CodeV1.462.7\n"
                "NO DEVICES AVAILABLE TO PROGRAM\nPress space to exit\n");
}

}  // namespace

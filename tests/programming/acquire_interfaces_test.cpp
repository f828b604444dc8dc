#include "programming/acquire_interfaces.h"

#include "tests/sim_fixture.h"

namespace {

class AcquireInterfacesTest : public SimFixture {
 protected:
  PhaseOutcome Acquire(UnitInterfaces* interfaces, USHORT identity = 0) {
    ComRef<ProgrammingServer> root = Root();
    DeviceRecord unit = RecordOf(*server_, "unit");
    return Run([&] {
      AcquireDeviceInterfaces(root.get(), unit, identity, interfaces);
    });
  }
  void StartWith(std::vector<SimFault> faults) {
    SimBench bench = Bench();
    bench.units = {FlashUnit("unit", 42)};
    bench.faults = std::move(faults);
    Start(bench);
  }
};

TEST_F(AcquireInterfacesTest, OpensTheUnitByItsRecordBytes) {
  StartWith({});
  UnitInterfaces interfaces;
  ASSERT_FALSE(Acquire(&interfaces, 0).stopped);
  EXPECT_TRUE(interfaces.device && interfaces.code && interfaces.store);

  DeviceRecord unit = RecordOf(*server_, "unit");
  std::vector<SimCall> open = state().Calls("OpenDevice");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].args, (std::vector<int64_t>{0x11}));
  EXPECT_EQ(open[0].bytes,
            std::vector<uint8_t>(unit.bytes + 4, unit.bytes + 10));
  // The same key and identity for both programming interfaces.
  for (const char* operation : {"GetCodeProgrammer", "GetStoreProgrammer"}) {
    std::vector<SimCall> calls = state().Calls(operation);
    ASSERT_EQ(calls.size(), 1u) << operation;
    EXPECT_EQ(calls[0].args, (std::vector<int64_t>{259, 0})) << operation;
  }
}

TEST_F(AcquireInterfacesTest, EachFailureHasItsMessageInOrder) {
  struct Case {
    const char* operation;
    FaultAction action;
    const char* message;
  };
  const Case cases[] = {
      {"OpenDevice", FaultAction::kResultCode,
       "ERROR COMMUNICATING WITH SERVER"},
      {"OpenDevice", FaultAction::kEmptyOutput,
       "COULD NOT ACQUIRE DEVICE INTERFACE"},
      {"GetCodeProgrammer", FaultAction::kResultCode,
       "ERROR COMMUNICATING WITH SERVER"},
      {"GetCodeProgrammer", FaultAction::kEmptyOutput,
       "COULD NOT ACQUIRE CODE PROGRAMMING INTERFACE"},
      {"GetStoreProgrammer", FaultAction::kResultCode,
       "ERROR COMMUNICATING WITH SERVER"},
      {"GetStoreProgrammer", FaultAction::kEmptyOutput,
       "COULD NOT ACQUIRE STORE PROGRAMMING INTERFACE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.operation << " " << c.message);
    std::optional<int64_t> value;
    if (c.action == FaultAction::kResultCode) value = int64_t{E_FAIL};
    StartWith({{c.operation, std::nullopt, std::nullopt, c.action, value,
                false}});
    UnitInterfaces interfaces;
    PhaseOutcome outcome = Acquire(&interfaces);
    EXPECT_EQ(outcome.output,
              std::string(c.message) + "\nPress space to exit\n");
  }
}

}  // namespace

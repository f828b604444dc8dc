#include "server/select_identity.h"

#include "tests/sim_fixture.h"

namespace {

class SelectIdentityTest : public SimFixture {
 protected:
  SimBench BenchWith(std::vector<SimIdentity> identities,
                     std::vector<SimFault> faults = {}) {
    SimBench bench = Bench();
    bench.identityNames = {{{5, 7}, "Seven"},
                           {{5, 9}, "Nine"},
                           {{5, 0}, "Zero"},
                           {{5, 4}, "Four"}};
    bench.accessLevelNames = {{0, "Full"}, {1, "Read"}, {2, "None"}};
    SimUnit unit = ReadyUnit("unit", 42);
    unit.identities = std::move(identities);
    bench.units = {unit};
    bench.faults = std::move(faults);
    return bench;
  }
  PhaseOutcome Choose(USHORT* chosen) {
    ComRef<ProgrammingServer> root = Root();
    DeviceRecord unit = RecordOf(*server_, "unit");
    return Run([&] { *chosen = SelectIdentity(root.get(), unit); });
  }
};

TEST_F(SelectIdentityTest, ChoosesIdentityZeroOrElseTheFirstWithFullAccess) {
  struct Case {
    std::vector<SimIdentity> identities;
    USHORT chosen;
    const char* lines;
  };
  const Case cases[] = {
      {{{5, 7, 1}, {5, 9, 0}, {5, 0, 0}},
       0,
       "Access as Seven : Read\nAccess as Nine : Full\nAccess as Zero : Full\n"},
      {{{5, 9, 0}, {5, 4, 0}}, 9, "Access as Nine : Full\nAccess as Four : Full\n"},
      {{{5, 0, 0}, {5, 9, 0}}, 0, "Access as Zero : Full\nAccess as Nine : Full\n"},
      {{{5, 7, 2}, {5, 9, 0}}, 9, "Access as Seven : None\nAccess as Nine : Full\n"},
  };
  for (const Case& c : cases) {
    Start(BenchWith(c.identities));
    USHORT chosen = 0xFFFF;
    PhaseOutcome outcome = Choose(&chosen);
    EXPECT_FALSE(outcome.stopped) << outcome.output;
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_EQ(outcome.output, c.lines);
  }
}

TEST_F(SelectIdentityTest, WithoutFullAccessEveryLineIsWrittenFirst) {
  Start(BenchWith({{5, 7, 1}, {5, 9, 2}}));
  USHORT chosen;
  PhaseOutcome outcome = Choose(&chosen);
  EXPECT_EQ(outcome.output,
            "Access as Seven : Read\nAccess as Nine : None\n"
            "NO IDENTITY WITH SUFFICIENT ACCESS FOUND\nPress space to exit\n");

  Start(BenchWith({}));
  EXPECT_EQ(Choose(&chosen).output,
            "NO IDENTITY WITH SUFFICIENT ACCESS FOUND\nPress space to exit\n");
}

TEST_F(SelectIdentityTest, AsksWithTheUnitKeysAndTheFixedConstants) {
  Start(BenchWith({{5, 0, 0}}));
  USHORT chosen;
  ASSERT_FALSE(Choose(&chosen).stopped);
  std::vector<SimCall> calls = state().Calls("GetIdentities");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, (std::vector<int64_t>{259, 516, 0, 0, 1}));
}

TEST_F(SelectIdentityTest, MalformedArraysStopBeforeAnyLine) {
  auto fault = [](FaultAction action, std::optional<int64_t> value) {
    return SimFault{"GetIdentities", std::nullopt, std::nullopt, action, value,
                    false};
  };
  const SimFault faults[] = {fault(FaultAction::kBadLength, 4),
                             fault(FaultAction::kWrongElementType, VT_UI1),
                             fault(FaultAction::kEmptyOutput, std::nullopt)};
  for (const SimFault& f : faults) {
    Start(BenchWith({{5, 0, 0}, {5, 9, 0}}, {f}));
    USHORT chosen;
    EXPECT_EQ(Choose(&chosen).output,
              "DEVICE DETECT RESPONSE INVALID\nPress space to exit\n");
  }
}

TEST_F(SelectIdentityTest, NameFailuresStopEvenAfterAQualifyingIdentity) {
  for (const char* operation : {"GetIdentityName", "GetAccessName"}) {
    SCOPED_TRACE(operation);
    Start(BenchWith({{5, 0, 0}, {5, 9, 0}},
                    {{operation, std::nullopt, 2u, FaultAction::kResultCode,
                      int64_t{E_FAIL}, false}}));
    USHORT chosen;
    EXPECT_EQ(Choose(&chosen).output,
              "Access as Zero : Full\n"
              "ERROR COMMUNICATING WITH SERVER\nPress space to exit\n");
  }
}

TEST_F(SelectIdentityTest, MissingAndWideNamesPrintAsTheyAre) {
  SimBench bench = BenchWith({{5, 0, 0}, {5, 9, 1}});
  bench.identityNames[{5, 0}] = std::nullopt;  // the server gives no text
  bench.identityNames[{5, 9}] = "Werkstatt M\xC3\xBCnchen";
  Start(bench);
  USHORT chosen;
  EXPECT_EQ(Choose(&chosen).output,
            "Access as  : Full\nAccess as Werkstatt M\\u{00FC}nchen : Read\n");
}

}  // namespace

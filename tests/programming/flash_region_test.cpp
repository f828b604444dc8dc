#include "programming/flash_region.h"

#include <string>
#include <vector>

#include "programming/acquire_interfaces.h"
#include "tests/sim_fixture.h"

namespace {

class FlashRegionTest : public SimFixture {};

// The erase wait pauses between polls. Timing the machine would make a
// flaky test; counting the polls does not: a wait that pauses at least a
// millisecond before each poll cannot ask more than about once per
// millisecond of erase, whatever the load (about 125 times here with the
// 4 ms pause), while a loop without a pause asks tens of thousands of times.
TEST_F(FlashRegionTest, EraseWaitPausesBetweenPolls) {
  constexpr uint32_t kEraseMs = 500;
  SimBench bench = Bench();
  SimUnit unit = FlashUnit("unit", 42);
  unit.eraseMs = kEraseMs;
  bench.units = {unit};
  Start(bench);
  FillFlash("unit");

  ComRef<ProgrammingServer> root = Root();
  DeviceRecord record = RecordOf(*server_, "unit");
  UnitInterfaces interfaces;
  ASSERT_FALSE(Run([&] {
                 AcquireDeviceInterfaces(root.get(), record, 0, &interfaces);
               }).stopped);
  std::vector<uint8_t> image(4096, 0x5A);
  FlashRegion code = {interfaces.code.get(),
                      0x10000,
                      static_cast<ULONG>(image.size()),
                      image.data(),
                      "GROUP FAILED",
                      "Code flash erase ... ",
                      "ERASE FAILED",
                      "ERASE TIMED OUT",
                      "Code flash program ... ",
                      "PROGRAM FAILED",
                      "TRANSFER FAILED"};
  PhaseOutcome outcome =
      Run([&] { ProgramFlashRegion(code, record.groupKey(), 0); });
  const uint32_t polls = state().CallCount("PollErase");
  RecordProperty("polls", static_cast<int>(polls));
  EXPECT_LE(polls, kEraseMs / kErasePolling.firstPauseMs + 1)
      << "the erase wait polls without pausing";
  EXPECT_GE(polls, 2u);
  EXPECT_EQ(outcome.output,
            "Code flash erase ... erasing ... complete\n"
            "Code flash program ... complete\n");
}

}  // namespace

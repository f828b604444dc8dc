#include "programming/flash_region.h"

#include <chrono>
#include <string>
#include <vector>

#include "programming/acquire_interfaces.h"
#include "server/unused_entries.h"
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

// An erase that never ends, on a server that takes its time to say so.
class SlowBusyErase final : public ProgrammingInterfaceUnused {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override {
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG, REFGUID, GroupTicket*,
                                         USHORT* status) override {
    *status = kStatusDone;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE StartErase(ULONG, ULONG, USHORT* status) override {
    *status = kStatusBusy;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PollErase(USHORT* status) override {
    ++polls;
    Sleep(kPollMs);
    *status = kStatusBusy;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ProgramRegion(ULONG, ULONG, SAFEARRAY*,
                                          USHORT* status) override {
    *status = kStatusDone;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ResetDevice(USHORT* status) override {
    *status = kStatusDone;
    return S_OK;
  }

  static constexpr DWORD kPollMs = 20;
  int polls = 0;
};

// The limit is time as the clock shows it: polls that take long themselves
// end the wait at the limit, not after the pauses alone have added up to it
// (here 1 ms each, so about 200 polls and four seconds).
TEST(EraseLimitTest, CountsRealTimeWhenPollsAreSlow) {
  constexpr ErasePolling kPolling = {1, 1, 200};
  SlowBusyErase server;
  std::vector<uint8_t> data(16, 0x5A);
  const FlashRegion region = {
      &server,          0x10000,           16,
      data.data(),      "GROUP FAILED",    "Erase ... ",
      "ERASE FAILED",   "ERASE TIMED OUT", "Program ... ",
      "PROGRAM FAILED", "TRANSFER FAILED"};
  LARGE_INTEGER frequency;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  const auto start = std::chrono::steady_clock::now();
  PhaseOutcome outcome = RunPhase(
      [&] { ProgramFlashRegion(region, 0, frequency.QuadPart, kPolling); });
  const double ms = std::chrono::duration<double, std::milli>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  EXPECT_EQ(outcome.message, "ERASE TIMED OUT");
  EXPECT_EQ(outcome.output,
            "Erase ... erasing ... ERASE TIMED OUT\nPress space to exit\n");
  // 200 ms of 20 ms polls: about ten; the pauses' sum would allow 200.
  EXPECT_LE(server.polls, static_cast<int>(200 / SlowBusyErase::kPollMs) + 2);
  RecordProperty("polls", server.polls);
  RecordProperty("milliseconds", static_cast<int>(ms));
}

}  // namespace

#include "server/array_response.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "server/select_device.h"
#include "server/select_identity.h"
#include "server/unused_entries.h"
#include "tests/run_harness.h"

namespace {

SAFEARRAY* MakeArray(VARTYPE vt, ULONG count, LONG lowerBound) {
  SAFEARRAYBOUND bound;
  bound.cElements = count;
  bound.lLbound = lowerBound;
  return SafeArrayCreate(vt, 1, &bound);
}

TEST(TakeOverArrayTest, CountsFromAnyLowerBoundAndChecksTheType) {
  struct Case {
    VARTYPE made, expected;
    ULONG count;
    LONG lowerBound;
    bool taken;
  };
  const Case cases[] = {
      {VT_UI2, VT_UI2, 6, 0, true},  {VT_UI2, VT_UI2, 6, 5, true},
      {VT_UI2, VT_UI2, 6, -3, true}, {VT_UI1, VT_UI1, 0, 0, true},
      {VT_UI1, VT_UI2, 6, 0, false}, {VT_I2, VT_UI2, 6, 0, false},
  };
  for (const Case& c : cases) {
    SafeArrayRef array;
    *array.Out() = MakeArray(c.made, c.count, c.lowerBound);
    ASSERT_TRUE(array);
    size_t count = 99;
    EXPECT_EQ(TakeOverArray(array, c.expected, &count), c.taken);
    if (c.taken) {
      EXPECT_EQ(count, c.count);
      EXPECT_NE(array.data(), nullptr);
    }
  }
  SafeArrayRef none;
  size_t count = 0;
  EXPECT_FALSE(TakeOverArray(none, VT_UI1, &count));
}

// An empty array whose lower bound is the lowest LONG: its upper bound
// wraps to the highest, so the bounds describe 2^32 elements over an empty
// data area. Such arrays cannot be made here; a server elsewhere could hand
// one over, so the descriptor is set by hand.
SAFEARRAY* WrappedEmptyArray(VARTYPE vt) {
  SAFEARRAY* array = MakeArray(vt, 0, 0);
  array->rgsabound[0].lLbound = INT32_MIN;
  return array;
}

TEST(TakeOverArrayTest, RefusesBoundsThatDoNotDescribeTheElements) {
  SafeArrayRef wrapped;
  *wrapped.Out() = WrappedEmptyArray(VT_UI1);
  size_t count = 99;
  EXPECT_FALSE(TakeOverArray(wrapped, VT_UI1, &count));

  // The lowest lower bound itself is fine when the upper bound is a LONG.
  SafeArrayRef lowest;
  *lowest.Out() = MakeArray(VT_UI1, 2, INT32_MIN);
  ASSERT_TRUE(lowest);
  EXPECT_TRUE(TakeOverArray(lowest, VT_UI1, &count));
  EXPECT_EQ(count, 2u);
}

// Hands out the wrapped array as its detection and identity answers.
class WrappedArrayServer final : public ProgrammingServerUnused {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override {
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetIdentities(USHORT, USHORT, LONG, LONG, LONG,
                                          SAFEARRAY** identities) override {
    *identities = WrappedEmptyArray(VT_UI2);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAccessName(USHORT, BSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIdentityName(USHORT, USHORT, BSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetProfile(SAFEARRAY*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DetectDevices(SAFEARRAY** devices) override {
    *devices = WrappedEmptyArray(VT_UI1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OpenDevice(ULONG, UnitAddressTail,
                                       DeviceInterface**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetVersion(USHORT*, USHORT*) override {
    return E_NOTIMPL;
  }
};

TEST(TakeOverArrayTest, WrappedBoundsAreAMalformedAnswerInEachPhase) {
  WrappedArrayServer server;
  const std::function<void()> phases[] = {
      [&] { SelectDevice(&server, "W3"); },
      [&] { SelectIdentity(&server, DeviceRecord{}); },
  };
  for (const auto& phase : phases) {
    PhaseOutcome outcome = RunPhase(phase, "42\n");
    EXPECT_EQ(outcome.message, "DEVICE DETECT RESPONSE INVALID");
    EXPECT_EQ(outcome.output,
              "DEVICE DETECT RESPONSE INVALID\nPress space to exit\n");
  }
}

TEST(SafeArrayRefTest, GivesBackItsLocksBeforeDestroying) {
  SafeArrayRef array;
  ASSERT_TRUE(array.Create(VT_UI1, 16));
  ASSERT_TRUE(array.Lock());
  ASSERT_TRUE(array.Lock());
  SAFEARRAY* raw = array.get();
  EXPECT_EQ(raw->cLocks, 2u);
  array.Reset();  // a locked array would refuse to be destroyed
  EXPECT_FALSE(array);
}

}  // namespace

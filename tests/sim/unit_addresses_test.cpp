#include "sim/unit_addresses.h"

#include <gtest/gtest.h>

#include <functional>

#include "server/device_record.h"
#include "sim/bench_json.h"
#include "sim/default_bench.h"

namespace {

std::string RefusalOf(const SimBench& bench) {
  try {
    CheckUnitsApart(bench);
  } catch (const BenchError& error) {
    return error.what();
  }
  return "(accepted)";
}

// A raw record showing the address and keys of `unit`.
std::vector<uint8_t> RawLike(const SimUnit& unit) {
  std::vector<uint8_t> raw(kDeviceRecordSize, 0);
  for (size_t i = 0; i < 4; ++i) {
    raw[device_record::kUnitAddressA + i] =
        static_cast<uint8_t>(unit.unitAddressA >> (8 * i));
    raw[device_record::kUnitAddressB + i] =
        static_cast<uint8_t>(unit.unitAddressB >> (8 * i));
  }
  raw[device_record::kUnitAddressC] = static_cast<uint8_t>(unit.unitAddressC);
  raw[device_record::kUnitAddressC + 1] =
      static_cast<uint8_t>(unit.unitAddressC >> 8);
  raw[device_record::kUnitKeyA] = static_cast<uint8_t>(unit.unitKeyA);
  raw[device_record::kUnitKeyA + 1] = static_cast<uint8_t>(unit.unitKeyA >> 8);
  raw[device_record::kUnitKeyB] = static_cast<uint8_t>(unit.unitKeyB);
  raw[device_record::kUnitKeyB + 1] = static_cast<uint8_t>(unit.unitKeyB >> 8);
  return raw;
}

struct Apart {
  const char* name;
  /// Changes the default bench (w3-bay1 ready with flash, w3-bay2 and
  /// w3-bay3 without flash, w3-bay4 blank with flash).
  std::function<void(SimBench&)> change;
  /// Part of the refusal; nullptr when the bench is accepted.
  const char* says;
};

void PrintTo(const Apart& apart, std::ostream* out) { *out << apart.name; }

class UnitsApart : public testing::TestWithParam<Apart> {};

TEST_P(UnitsApart, SharedAddressesAndKeysAreRefusedNamingBoth) {
  SimBench bench = MakeDefaultBench("/bench", BenchTiming::kInstant);
  GetParam().change(bench);
  const std::string message = RefusalOf(bench);
  if (GetParam().says == nullptr) {
    EXPECT_EQ(message, "(accepted)");
    EXPECT_NO_THROW(ValidateBench(bench));
    return;
  }
  EXPECT_NE(message.find(GetParam().says), std::string::npos) << message;
  EXPECT_THROW(ValidateBench(bench), BenchError);
}

INSTANTIATE_TEST_SUITE_P(
    Benches, UnitsApart,
    testing::Values(
        Apart{"asMade", [](SimBench&) {}, nullptr},
        // 4711's address copied onto 4713: choosing 4713 would open 4711.
        Apart{"addressCopied",
              [](SimBench& b) {
                b.units[3].unitAddressA = b.units[0].unitAddressA;
                b.units[3].unitAddressB = b.units[0].unitAddressB;
                b.units[3].unitAddressC = b.units[0].unitAddressC;
              },
              "units[3] (\"w3-bay4\") and units[0] (\"w3-bay1\") share the "
              "unit address 0x00000001 0x00470001 0x0001"},
        Apart{"keysCopied",
              [](SimBench& b) {
                b.units[2].unitKeyA = b.units[1].unitKeyA;
                b.units[2].unitKeyB = b.units[1].unitKeyB;
              },
              "units[2] (\"w3-bay3\") and units[1] (\"w3-bay2\") share the "
              "unit keys 258 and 514"},
        Apart{"onlyTheLastByteDiffers",
              [](SimBench& b) {
                b.units[3].unitAddressB = b.units[0].unitAddressB;
                b.units[3].unitAddressC = 0x0101;
              },
              nullptr},
        Apart{"onlyOneKeyShared",
              [](SimBench& b) { b.units[3].unitKeyA = b.units[0].unitKeyA; },
              nullptr},
        // Raw records without flash may show any listing, twins too.
        Apart{"rawTwinsWithoutFlash",
              [](SimBench& b) {
                b.units[1].rawRecord = RawLike(b.units[1]);
                b.units[2].rawRecord = RawLike(b.units[1]);
              },
              nullptr},
        Apart{"rawRecordShowingAUnitWithFlash",
              [](SimBench& b) { b.units[1].rawRecord = RawLike(b.units[0]); },
              "units[1] (\"w3-bay2\") and units[0] (\"w3-bay1\") share"},
        Apart{"rawTwinsWithFlash",
              [](SimBench& b) {
                b.units[0].rawRecord = RawLike(b.units[1]);
                b.units[1].rawRecord = RawLike(b.units[1]);
              },
              "units[1] (\"w3-bay2\") and units[0] (\"w3-bay1\") share"}),
    [](const testing::TestParamInfo<Apart>& info) {
      return std::string(info.param.name);
    });

TEST(UnitsApart, UnitsWrittenWithoutAddressOrKeysGetTheirOwn) {
  const SimBench bench = ParseBench(R"({"units": [
      {"name": "a"}, {"name": "b", "unitAddressC": 0, "unitKeyB": 0},
      {"name": "c"}, {"name": "d", "unitAddressC": 2, "unitKeyB": 2},
      {"name": "e"}]})",
                                    "/b");
  std::vector<uint16_t> addresses;
  std::vector<uint16_t> keys;
  for (const SimUnit& unit : bench.units) {
    EXPECT_EQ(unit.unitAddressA, 0u) << unit.name;
    EXPECT_EQ(unit.unitAddressB, 0u) << unit.name;
    EXPECT_EQ(unit.unitKeyA, 0u) << unit.name;
    addresses.push_back(unit.unitAddressC);
    keys.push_back(unit.unitKeyB);
  }
  EXPECT_EQ(addresses, (std::vector<uint16_t>{1, 0, 3, 2, 4}));
  EXPECT_EQ(keys, (std::vector<uint16_t>{1, 0, 3, 2, 4}));
}

TEST(UnitsApart, OneUnitWrittenWithoutAddressKeepsTheZeroAddress) {
  const SimBench bench = ParseBench(R"({"units": [{"name": "a"}]})", "/b");
  EXPECT_EQ(bench.units[0].unitAddressC, 0);
  EXPECT_EQ(bench.units[0].unitKeyB, 0);
}

TEST(UnitsApart, BenchJsonNamesBothUnitsOfASharedAddress) {
  EXPECT_THROW(
      {
        try {
          ParseBench(R"({"units": [{"name": "a", "unitAddressA": 5},
                                   {"name": "b", "unitAddressA": 5}]})",
                     "/b");
        } catch (const BenchError& error) {
          EXPECT_STREQ(error.what(),
                       "bench.json: units[1] (\"b\") and units[0] (\"a\") "
                       "share the unit address 0x00000005 0x00000000 0x0000; "
                       "each unit needs its own");
          throw;
        }
      },
      BenchError);
}

}  // namespace

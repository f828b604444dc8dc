#include "sim/bench_json.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "sim/default_bench.h"
#include "sim/temp_folder.h"
#include "tests/sim/unusual_files.h"

namespace {

std::string RefusalOf(const std::string& json) {
  try {
    ParseBench(json, "/bench");
  } catch (const BenchError& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(BenchJson, WrittenBenchReadsBackUnchanged) {
  SimBench bench = MakeDefaultBench("/bench", BenchTiming::kRealistic);
  bench.identityNames[{9, 9}] = std::nullopt;
  bench.units[1].rawRecord = std::vector<uint8_t>(1256, 0xA5);
  bench.units[2].identitiesKnown = false;
  bench.faults.push_back(
      {"PollErase", SimRegion::kStore, 3u, FaultAction::kStatus, 5, false});
  bench.faults.push_back({"ProgramRegion", std::nullopt, std::nullopt,
                          FaultAction::kExit, std::nullopt, true});
  bench.faults.push_back({"GetVersion", std::nullopt, 2u, FaultAction::kThrow,
                          std::nullopt, false});
  const std::string json = BenchToJson(bench);
  const SimBench read = ParseBench(json, "/bench");
  EXPECT_EQ(BenchToJson(read), json);
  EXPECT_EQ(read.units[0].groupKey, bench.units[0].groupKey);
  EXPECT_EQ(*read.identityNames.at({1, 0}), "Werkstatt München");
  EXPECT_FALSE(read.identityNames.at({9, 9}).has_value());
  EXPECT_EQ(*read.units[1].rawRecord, std::vector<uint8_t>(1256, 0xA5));
  // What the raw record holds is what the unit is.
  EXPECT_EQ(read.units[1].serialNumber, static_cast<int32_t>(0xA5A5A5A5));
  EXPECT_FALSE(read.units[2].identitiesKnown);
  // A unit with flash keeps a state of its own only when it was given one.
  EXPECT_EQ(read.units[3].unitState, std::optional<uint16_t>(900));
  EXPECT_FALSE(read.units[0].unitState.has_value());
}

TEST(BenchJson, LeftOutFieldsTakeTheirDefaults) {
  const SimBench bench = ParseBench(R"({"units": [{"name": "a"}]})", "/b");
  EXPECT_EQ(bench.versionMajor, 1);
  EXPECT_EQ(bench.versionMinor, 5);
  EXPECT_EQ(bench.readyState, 1001);
  EXPECT_EQ(bench.notReadyState, 1000);
  ASSERT_EQ(bench.units.size(), 1u);
  EXPECT_FALSE(bench.units[0].unitState.has_value());
  EXPECT_FALSE(bench.units[0].flashSimulated());
  EXPECT_TRUE(bench.faults.empty());
}

TEST(BenchJson, NumbersMayBeHexadecimalTexts) {
  const SimBench bench = ParseBench(
      R"({"units": [{"name": "a", "groupKey": "0xC0FFEE01",
          "serialNumber": -7, "unitAddressC": "0xffff"}],
          "faults": [{"operation": "GetVersion", "action": "resultCode",
                      "value": "0x80004005"}]})",
      "/b");
  EXPECT_EQ(bench.units[0].groupKey, 0xC0FFEE01u);
  EXPECT_EQ(bench.units[0].serialNumber, -7);
  EXPECT_EQ(bench.units[0].unitAddressC, 0xFFFF);
  EXPECT_EQ(*bench.faults[0].value, 0x80004005);
}

TEST(BenchJson, ModelNameOfExactlyThirtyTwoBytesIsAccepted) {
  const std::string model(32, 'M');
  const SimBench bench = ParseBench(
      R"({"units": [{"name": "a", "modelName": ")" + model + R"("}]})", "/b");
  EXPECT_EQ(bench.units[0].modelName, model);
}

struct Refusal {
  const char* json;
  const char* says;  // part of the message
};

// Units with a raw record that give a field it holds as well.
const std::string kRawWithSerial =
    R"({"units": [{"name": "a", "rawRecord": ")" + std::string(2512, '0') +
    R"(", "serialNumber": 4711}]})";
const std::string kRawWithState = R"({"units": [{"name": "a", "rawRecord": ")" +
                                  std::string(2512, '0') +
                                  R"(", "unitState": 1001}]})";

class BenchJsonRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(BenchJsonRefuses, WithAMessageNamingTheFault) {
  const std::string message = RefusalOf(GetParam().json);
  EXPECT_EQ(message.rfind("bench.json: ", 0), 0u) << message;
  EXPECT_NE(message.find(GetParam().says), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    BadBenches, BenchJsonRefuses,
    testing::Values(
        Refusal{"", "not valid JSON"},
        Refusal{R"({"units": [})", "not valid JSON"},
        Refusal{"[]", "expected an object"},
        Refusal{R"({"unit": []})", "unknown field \"unit\""},
        Refusal{R"({"units": [{"name": "a", "unitstate": 1}]})",
                "units[0]: unknown field \"unitstate\""},
        Refusal{R"({"units": {}})", "units: expected an array"},
        Refusal{R"({"units": [{"name": 5}]})",
                "units[0].name: expected a text"},
        Refusal{R"({"units": [{"name": "a", "unitState": 65536}]})",
                "units[0].unitState: expected a whole number from 0 to 65535"},
        Refusal{R"({"units": [{"name": "a", "unitState": 1.5}]})",
                "unitState: expected a whole number"},
        Refusal{R"({"units": [{"name": "a", "unitState": -1}]})",
                "unitState: expected a whole number"},
        Refusal{R"({"units": [{"name": "a", "groupKey": "0xG"}]})",
                "groupKey: expected a whole number"},
        Refusal{R"({"units": [{"name": "a", "serialNumber": 2147483648}]})",
                "serialNumber: expected a whole number"},
        Refusal{R"({"units": [{"name": "a", "modelName":
                "123456789012345678901234567890123"}]})",
                "modelName longer than 32 bytes"},
        // Every text ends where a NUL stands, so the tool's listing and the
        // unit's power-up would judge different model names and labels.
        Refusal{R"({"units": [{"name": "a", "modelName": "W3\u0000"}]})",
                "units[0].modelName: holds a NUL character (\\u0000) at "
                "byte 2, where the listing would end the text"},
        Refusal{R"({"units": [{"name": "a", "unitLabel": "\u0000x"}]})",
                "units[0].unitLabel: holds a NUL character"},
        Refusal{R"({"units": [{"name": "a", "codeFlash": "x\u0000.bin",
                "storeFlash": "y"}]})",
                "units[0].codeFlash: holds a NUL character"},
        Refusal{R"({"accessLevelNames": {"0": "Read\u0000 only"}})",
                "accessLevelNames.0: holds a NUL character"},
        Refusal{R"({"units": [{"name": "a"}, {"name": "a"}]})",
                "another unit has the same name"},
        Refusal{R"({"units": [{}]})", "name must have 1 to 64 bytes"},
        Refusal{R"({"units": [{"name": "a", "codeFlash": "../x",
                "storeFlash": "y"}]})",
                "must be a plain file name"},
        Refusal{R"({"units": [{"name": "a", "codeFlash": "bench.json",
                "storeFlash": "y"}]})",
                "must be a plain file name"},
        Refusal{R"({"units": [{"name": "a", "codeFlash": "x"}]})",
                "given together or not at all"},
        Refusal{R"({"units": [{"name": "a", "codeFlash": "x",
                "storeFlash": "y"}, {"name": "b", "codeFlash": "x",
                "storeFlash": "z"}]})",
                "is used twice"},
        Refusal{R"({"units": [{"name": "a", "codeFlash": "x",
                "storeFlash": "y", "unitCodeVersion": 462}]})",
                "comes from its code flash"},
        Refusal{R"({"units": [{"name": "a", "identities": [[1, 2]]}]})",
                "identities[0]: expected [identityGroup, identityId"},
        Refusal{R"({"units": [{"name": "a", "rawRecord": "00"}]})",
                "rawRecord: expected 1256 bytes"},
        // Beside a raw record a field would repeat it or be overruled.
        Refusal{kRawWithSerial.c_str(),
                "units[0].serialNumber: the unit's rawRecord holds it"},
        Refusal{kRawWithState.c_str(),
                "units[0].unitState: the unit's rawRecord holds it"},
        Refusal{R"({"units": [{"name": "a", "eraseMs": 600001}]})",
                "durations are at most"},
        Refusal{R"({"serverVersion": [1]})", "expected [major, minor]"},
        Refusal{R"({"accessLevelNames": {"x": "y"}})",
                "expected a key \"accessLevel\""},
        Refusal{R"({"accessLevelNames": {"0": 5}})", "expected a text or null"},
        Refusal{R"({"identityNames": {"1": "y"}})",
                "expected a key \"identityGroup/identityId\""},
        Refusal{R"({"identityNames": {"1/70000": "y"}})",
                "expected a whole number from 0 to 65535"},
        Refusal{R"({"faults": [{"action": "exit"}]})",
                "a fault needs its \"operation\""},
        Refusal{R"({"faults": [{"operation": "Erase", "action": "exit"}]})",
                "unknown operation \"Erase\""},
        Refusal{
            R"({"faults": [{"operation": "GetVersion", "action": "boom"}]})",
            "unknown action \"boom\""},
        Refusal{R"({"faults": [{"operation": "GetVersion",
                "action": "resultCode"}]})",
                "resultCode needs a 32-bit value"},
        Refusal{R"({"faults": [{"operation": "DetectDevices",
                "action": "status", "value": 1}]})",
                "this operation has no status"},
        Refusal{R"({"faults": [{"operation": "DetectDevices",
                "region": "code", "action": "exit"}]})",
                "only programming operations take a region"},
        Refusal{R"({"faults": [{"operation": "PollErase", "region": "ram",
                "action": "exit"}]})",
                "expected \"code\" or \"store\""},
        Refusal{R"({"faults": [{"operation": "PollErase", "call": 0,
                "action": "exit"}]})",
                "expected a whole number from 1"},
        Refusal{R"({"faults": [{"operation": "GetVersion",
                "action": "badLength"}]})",
                "this operation returns no array"},
        Refusal{R"({"faults": [{"operation": "DetectDevices",
                "action": "wrongElementType", "value": 8}]})",
                "element type must be one of"},
        Refusal{R"({"faults": [{"operation": "GetVersion",
                "action": "emptyOutput"}]})",
                "no output to leave empty"},
        Refusal{R"({"faults": [{"operation": "GetVersion", "action": "exit",
                "during": true}]})",
                "\"during\" is for exit faults"},
        Refusal{R"({"faults": [{"operation": "StartErase",
                "action": "status", "value": 5, "during": true}]})",
                "and status faults of PollErase"},
        // A key given twice: the parser alone would keep the last one, and
        // a second "units" would empty the bench without a word.
        Refusal{R"({"units": [{"name": "a"}], "units": []})",
                "bench.json: \"units\" is given twice"},
        Refusal{R"({"units": [{"name": "a"}, {"name": "b", "unitState": 1,
                "name": "c"}]})",
                "bench.json: units[1]: \"name\" is given twice"},
        Refusal{R"({"units": [{"name": "a", "identities": [[1, 0, 0]]},
                {"name": "b", "identities": [[1, 0, 0], {"x": 1, "x": 2}]}]})",
                "bench.json: units[1].identities[1]: \"x\" is given twice"},
        Refusal{R"({"accessLevelNames": {"0": "Full", "0": null}})",
                "bench.json: accessLevelNames: \"0\" is given twice"},
        Refusal{R"({"faults": [{"operation": "GetVersion", "action": "exit",
                "action": "throw"}]})",
                "bench.json: faults[0]: \"action\" is given twice"}));

TEST(BenchJson, MessagesNameThePathToTheField) {
  EXPECT_EQ(RefusalOf(R"({"unit": []})"), "bench.json: unknown field \"unit\"");
  EXPECT_EQ(RefusalOf(R"({"units": [{"name": "a"}, {"name": "b",
                "identities": [[1, 2, "x"]]}]})"),
            "bench.json: units[1].identities[0][2]: expected a whole number "
            "from 0 to 65535");
}

TEST(BenchJson, DeepNestingIsRefusedBeforeParsing) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_NE(RefusalOf(deep).find("nested more than 32 levels"),
            std::string::npos);
  // Brackets inside texts do not count.
  EXPECT_EQ(
      RefusalOf(R"({"units": [{"name": ")" + std::string(50, '[') + R"("}]})"),
      "(accepted)");
}

// Whatever a bench file holds, reading it ends in a bench or a BenchError.
TEST(BenchJson, DamagedBenchesNeverEndOtherwiseThanInBenchError) {
  const std::string valid =
      BenchToJson(MakeDefaultBench("/b", BenchTiming::kRealistic));
  std::mt19937 random(1234);
  const std::string alphabet = "{}[]\",:0123456789-.eE \\utrfn\x80\xff";
  for (int round = 0; round < 3000; ++round) {
    std::string json = valid;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % json.size();
      switch (random() % 3) {
        case 0:
          json[at] = alphabet[random() % alphabet.size()];
          break;
        case 1:
          json.erase(at, 1 + random() % 8);
          break;
        default:
          json.insert(at, 1, alphabet[random() % alphabet.size()]);
      }
    }
    try {
      ParseBench(json, "/b");
    } catch (const BenchError&) {
    }
  }
}

TEST(BenchJson, LoadBenchNamesTheFolderOfABadBench) {
  TempFolder folder;
  try {
    LoadBench(folder.path());
    FAIL() << "a folder without bench.json was accepted";
  } catch (const BenchError& error) {
    EXPECT_NE(std::string(error.what()).find(folder.path()), std::string::npos);
  }
}

// A bench.json of exactly the limit is read; one byte more is refused.
TEST(BenchJson, LoadBenchTakesUpToTheLimit) {
  TempFolder folder;
  const std::string path = folder.path() + "/bench.json";
  std::string text = "{}";
  text.resize(bench_limits::kMaxJsonBytes, ' ');
  std::ofstream(path, std::ios::binary) << text;
  EXPECT_NO_THROW(LoadBench(folder.path()));
  std::ofstream(path, std::ios::binary | std::ios::app) << ' ';
  try {
    LoadBench(folder.path());
    FAIL() << "a bench.json past the limit was accepted";
  } catch (const BenchError& error) {
    EXPECT_NE(std::string(error.what()).find("larger than 16777216 bytes"),
              std::string::npos)
        << error.what();
  }
}

// Neither read nor waited on: a pipe there has no writer, and a wait for
// one would hold up the server, and every job, for ever.
TEST(BenchJson, ABenchJsonThatIsNoPlainFileIsRefusedUnread) {
  const struct {
    const char* name;
    std::function<bool(const std::string& path)> put;
  } cases[] = {
      {"a folder",
       [](const std::string& path) {
         return std::filesystem::create_directory(path);
       }},
      {"a pipe", MakePipe},
      {"a socket", MakeSocket},
      {"a link",
       [](const std::string& path) {
         std::ofstream(path + ".real") << "{}";
         std::filesystem::create_symlink(path + ".real", path);
         return true;
       }},
  };
  for (const auto& notPlain : cases) {
    SCOPED_TRACE(notPlain.name);
    TempFolder folder;
    const std::string path = folder.path() + "/bench.json";
    ASSERT_TRUE(notPlain.put(path));
    try {
      LoadBench(folder.path());
      ADD_FAILURE() << "read as bench.json";
    } catch (const BenchError& error) {
      EXPECT_EQ(error.what(), path +
                                  ": cannot be read: not a plain file (a "
                                  "folder, a pipe, a device or a symbolic "
                                  "link, which is not followed)");
    }
  }
}

}  // namespace

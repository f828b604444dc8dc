// A job's record made into a bench: the bench shows what the record's
// server showed, and a record a bench cannot be made of is refused naming
// its line.
#include "sim/record_bench.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "sim/bench_flash.h"
#include "sim/bench_json.h"
#include "sim/default_bench.h"
#include "sim/flash_file.h"
#include "sim/sample_blocks.h"
#include "sim/sim_state.h"
#include "sim/temp_folder.h"

namespace {

using nlohmann::json;

std::string Hex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

// The records the default bench's units show, as a server would list them.
std::vector<DeviceRecord> DefaultListing() {
  TempFolder folder;
  return SimState(WriteDefaultBench(folder.path(), BenchTiming::kInstant))
      .Records();
}

json Call(const char* name, json fields = json::object()) {
  fields["entry"] = "call";
  fields["call"] = name;
  if (!fields.contains("result")) fields["result"] = "0x00000000";
  return fields;
}

json StepEnd(const char* step, int ms, int busy) {
  json end = {{"entry", "step end"},    {"step", step},
              {"duration ms", ms},      {"busy", busy},
              {"result", "0x00000000"}, {"status", 0}};
  if (std::string(step).find("erase") != std::string::npos) end["began"] = true;
  return end;
}
// The lines a job on the default bench writes when it chooses `serial`, up
// to and including the step `lastStep` begun ("" for every step, ended).
std::vector<json> JobLines(int32_t serial, const std::string& lastStep = "") {
  const std::vector<DeviceRecord> listing = DefaultListing();
  json units = json::array();
  const DeviceRecord* chosen = nullptr;
  for (const DeviceRecord& record : listing) {
    units.push_back(Hex(record.bytes, kDeviceRecordSize));
    if (record.serialNumber() == serial && record.unitState() >= 1000) {
      chosen = &record;
    }
  }
  std::vector<json> lines = {
      {{"entry", "job"}, {"format", 1}, {"tool", "ecuprog"}},
      {{"entry", "firmware"}, {"target", "W3"}, {"release", "1.463.1"}},
      Call("GetVersion", {{"major", 1}, {"minor", 7}}),
      Call("SetProfile", {{"bytes", 16384}}),
      Call("DetectDevices", {{"units", units}, {"rest", ""}}),
      {{"entry", "unit"}, {"serial", serial}},
      Call("GetIdentities", {{"unit key a", chosen->unitKeyA()},
                             {"unit key b", chosen->unitKeyB()},
                             {"identities", {{1, 7, 1}, {1, 0, 0}}}}),
      Call("GetIdentityName",
           {{"identity group", 1}, {"identity id", 7}, {"name", "Service"}}),
      Call("GetAccessName", {{"access level", 1}}),  // a null name
      Call("GetIdentityName", {{"identity group", 1},
                               {"identity id", 0},
                               {"name", "Werkstatt München"}}),
      Call("GetAccessName", {{"access level", 0}, {"name", "Full"}}),
      Call("OpenDevice", {{"unit address a", chosen->unitAddressA()},
                          {"unit address b", chosen->unitAddressB()},
                          {"unit address c", chosen->unitAddressC()},
                          {"given", true}}),
      Call("GetCodeProgrammer", {{"unit key a", chosen->unitKeyA()},
                                 {"identity id", 0},
                                 {"given", true}}),
      Call("GetStoreProgrammer", {{"unit key a", chosen->unitKeyA()},
                                  {"identity id", 0},
                                  {"given", true}}),
  };
  const std::vector<json> steps = {
      StepEnd("code erase", 1200, 61), StepEnd("code program", 850, 0),
      StepEnd("store erase", 900, 40), StepEnd("store program", 300, 0),
      StepEnd("reset", 5, 0)};
  for (const json& end : steps) {
    // Each region's group is taken before its erase.
    const std::string step = end["step"];
    if (step == "code erase" || step == "store erase") {
      lines.push_back(
          Call("AcquireGroup", {{"region", step.substr(0, step.find(' '))},
                                {"group key", chosen->groupKey()},
                                {"status", 0}}));
    }
    lines.push_back({{"entry", "step"}, {"step", end["step"]}});
    if (end["step"] == lastStep) return lines;
    if (end["busy"] != 0) {
      lines.push_back({{"entry", "screen"}, {"text", "erasing ... "}});
    }
    lines.push_back(end);
  }
  lines.push_back({{"entry", "end"}, {"message", "PROGRAMMING SUCCESSFUL"}});
  return lines;
}

std::string Text(std::vector<json> lines) {
  std::string text;
  int ms = 0;
  for (json& line : lines) {
    line["ms"] = 0.5 + ms++;
    text += line.dump() + "\n";
  }
  return text;
}

// The records a server serving the bench made from `lines` shows.
std::vector<DeviceRecord> Replayed(const ReplayBench& replay,
                                   const std::string& folder) {
  ReplayBench written = replay;
  written.bench.folder = folder;
  WriteReplayBench(written);
  return SimState(LoadBench(folder)).Records();
}

TEST(RecordBench, FinishedJobListsEveryUnitByteForByte) {
  TempFolder folder;
  const ReplayBench replay =
      BenchFromRecord(Text(JobLines(4711)), "job.jsonl", folder.path());
  const std::vector<DeviceRecord> listed = DefaultListing();
  const std::vector<DeviceRecord> shown = Replayed(replay, folder.path());
  ASSERT_EQ(shown.size(), listed.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(Hex(shown[i].bytes, kDeviceRecordSize),
              Hex(listed[i].bytes, kDeviceRecordSize))
        << "unit " << i;
  }
  const SimBench bench = LoadBench(folder.path());
  EXPECT_EQ(replay.chosenUnit, "found-1");
  EXPECT_EQ(bench.versionMajor, 1);
  EXPECT_EQ(bench.versionMinor, 7);
  const SimUnit& chosen = bench.units[0];
  ASSERT_EQ(chosen.identities.size(), 2u);
  EXPECT_EQ(chosen.identities[0].identityId, 7);
  EXPECT_TRUE(chosen.flashSimulated());
  EXPECT_EQ(chosen.eraseMs, 1200u);
  EXPECT_EQ(chosen.erasePolls, 61u);
  EXPECT_EQ(chosen.programMs, 850u);
  EXPECT_FALSE(bench.accessLevelNames.at(1).has_value());
  EXPECT_EQ(*bench.identityNames.at({1, 0}), "Werkstatt München");
  // The others are listed, and not taken for units whose identities the
  // bench knows.
  EXPECT_FALSE(bench.units[1].identitiesKnown);
  EXPECT_FALSE(bench.units[1].flashSimulated());
  EXPECT_TRUE(bench.faults.empty());
  EXPECT_EQ(replay.code, ReplayFlash::kShownRelease);

  // Given other code, the unit shows it at its next start, as any unit of
  // the bench does: the record stands for the flash only as first found.
  SampleCodeBlock code;
  code.codeVersion = 470;
  code.length = 0x40000;
  WriteBenchFlash(bench, "found-1", SimRegion::kCode, kCodeFlashBase,
                  MakeSampleCodeBlock(code));
  SampleProfileBlock profile;
  profile.codeVersion = 470;
  WriteBenchFlash(bench, "found-1", SimRegion::kStore, 0,
                  MakeSampleProfileBlock(profile));
  const DeviceRecord restarted = SimState(LoadBench(folder.path())).Record(0);
  EXPECT_EQ(restarted.unitCodeVersion(), 470);
  EXPECT_EQ(restarted.unitState(), 1001);
  EXPECT_EQ(restarted.unitLabel(), listed[0].unitLabel());
}

// The same listing whatever the job reached, and flash that lets each
// recorded erase find what it found.
TEST(RecordBench, ChosenUnitsFlashFollowsWhatTheRecordShows) {
  struct Case {
    const char* name;
    int32_t serial;
    std::string cutAt;
    std::function<void(std::vector<json>&)> change;
    ReplayFlash code;
    ReplayFlash store;
  };
  const auto same = [](std::vector<json>&) {};
  const Case cases[] = {
      {"CutDuringCodeErase", 4711, "code erase", same,
       ReplayFlash::kShownRelease, ReplayFlash::kShownRelease},
      // Listed without a release: only what the erases found.
      {"NoReleaseErasedBoth", 4716, "", same, ReplayFlash::kNotBlank,
       ReplayFlash::kNotBlank},
      {"NoReleaseCutInCodeErase", 4716, "code erase", same,
       ReplayFlash::kErased, ReplayFlash::kErased},
      // Cut once the unit had begun erasing: the replay erases too.
      {"NoReleaseCutWhileErasing", 4716, "code erase",
       [](std::vector<json>& lines) {
         lines.push_back({{"entry", "screen"}, {"text", "erasing ... "}});
       },
       ReplayFlash::kNotBlank, ReplayFlash::kErased},
      {"NoReleaseStoreBlank", 4716, "",
       [](std::vector<json>& lines) {
         for (json& line : lines) {
           if (line["entry"] == "step end" && line["step"] == "store erase") {
             line["blank"] = true;
             line["began"] = false;
           }
         }
       },
       ReplayFlash::kNotBlank, ReplayFlash::kErased},
  };
  const std::vector<DeviceRecord> listed = DefaultListing();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    std::vector<json> lines = JobLines(c.serial, c.cutAt);
    c.change(lines);
    const ReplayBench replay =
        BenchFromRecord(Text(lines), "job.jsonl", folder.path());
    EXPECT_EQ(replay.code, c.code);
    EXPECT_EQ(replay.store, c.store);
    const std::vector<DeviceRecord> shown = Replayed(replay, folder.path());
    ASSERT_EQ(shown.size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
      EXPECT_EQ(Hex(shown[i].bytes, kDeviceRecordSize),
                Hex(listed[i].bytes, kDeviceRecordSize))
          << "unit " << i;
    }
    const SimBench bench = LoadBench(folder.path());
    const FlashFile code =
        BenchFlash(bench, replay.chosenUnit, SimRegion::kCode);
    EXPECT_EQ(code.IsErased(kCodeFlashBase, 0x1000),
              c.code == ReplayFlash::kErased);
    if (!c.cutAt.empty()) {
      EXPECT_NE(replay.notes.back().find("cut during its code erase"),
                std::string::npos);
    }
  }
}

TEST(RecordBench, RecordSavedAgainByAWindowsEditorIsRead) {
  std::string text = "\xEF\xBB\xBF";
  for (char c : Text(JobLines(4711)))
    text += c == '\n' ? "\r\n" : std::string(1, c);
  const ReplayBench replay = BenchFromRecord(text, "job.jsonl", "/b");
  EXPECT_EQ(replay.chosenSerial, 4711);
  EXPECT_EQ(replay.bench.units.size(), 6u);
}

TEST(RecordBench, RefusedRequestsAreAnsweredAgain) {
  std::vector<json> lines = JobLines(4711);
  for (json& line : lines) {
    if (line["entry"] == "step end" && line["step"] == "code erase") {
      line["status"] = 5;
    }
    // Refused at once: the erase never began, whatever was shown.
    if (line["entry"] == "step end" && line["step"] == "store erase") {
      line["status"] = 3;
      line["began"] = false;
    }
    if (line["call"] == "GetCodeProgrammer") line["given"] = false;
    if (line["call"] == "AcquireGroup" && line["region"] == "store") {
      line["status"] = 9;
    }
  }
  const ReplayBench replay = BenchFromRecord(Text(lines), "job.jsonl", "/b");
  ASSERT_EQ(replay.bench.faults.size(), 4u);
  EXPECT_EQ(replay.bench.faults[0].operation, "GetCodeProgrammer");
  EXPECT_EQ(replay.bench.faults[0].action, FaultAction::kEmptyOutput);
  auto fault = [&](const char* operation) {
    for (const SimFault& f : replay.bench.faults) {
      if (f.operation == operation) return f;
    }
    ADD_FAILURE() << "no " << operation << " fault";
    return SimFault{};
  };
  const SimFault erase = fault("PollErase");
  EXPECT_EQ(erase.operation, "PollErase");
  EXPECT_EQ(erase.region, SimRegion::kCode);
  EXPECT_EQ(erase.call, 62u);
  EXPECT_EQ(erase.action, FaultAction::kStatus);
  EXPECT_EQ(erase.value, 5);
  const SimFault refused = fault("StartErase");
  EXPECT_EQ(refused.operation, "StartErase");
  EXPECT_EQ(refused.region, SimRegion::kStore);
  EXPECT_EQ(refused.call, 1u);
  EXPECT_EQ(refused.value, 3);
  const SimFault group = fault("AcquireGroup");
  EXPECT_EQ(group.operation, "AcquireGroup");
  EXPECT_EQ(group.region, SimRegion::kStore);
  EXPECT_EQ(group.call, 1u);
  EXPECT_EQ(group.value, 9);
}

TEST(RecordBench, RecordsABenchCannotBeMadeOfAreRefusedNamingTheLine) {
  struct Case {
    const char* name;
    std::function<std::string()> record;
    std::string expected;
  };
  const auto changed = [](std::function<void(std::vector<json>&)> change) {
    return [change] {
      std::vector<json> lines = JobLines(4711);
      change(lines);
      return Text(lines);
    };
  };
  const Case cases[] = {
      {"DamagedLine",
       [] {
         std::string text = Text(JobLines(4711));
         text.replace(text.find("\"GetVersion\""), 4, "\"Ge\n");
         return text;
       },
       "job.jsonl: line 3: damaged: not JSON"},
      {"LastLineNotEnded",
       [] {
         std::string text = Text(JobLines(4711));
         text.pop_back();
         return text;
       },
       "the line is not ended"},
      {"LaterFormat", changed([](std::vector<json>& l) { l[0]["format"] = 2; }),
       "job.jsonl: line 1: format 2 is of a later ecuprog"},
      {"NoJobLine", changed([](std::vector<json>& l) { l.erase(l.begin()); }),
       "line 1: the first line is not the \"job\" line"},
      {"NoDetectDevices",
       [] {
         std::vector<json> lines = JobLines(4711);
         lines.resize(4);
         return Text(lines);
       },
       "job.jsonl: no DetectDevices answer in its 4 lines"},
      {"NoVersionBeforeTheListing",
       changed([](std::vector<json>& l) { l.erase(l.begin() + 2); }),
       "job.jsonl: line 4: the units are listed, but no GetVersion answer"},
      {"ShortUnitRecord", changed([](std::vector<json>& l) {
         l[4]["units"][2] = l[4]["units"][2].get<std::string>().substr(2);
       }),
       "line 5: units[2] holds 1255 bytes"},
      {"ChosenNotListed",
       changed([](std::vector<json>& l) { l[5]["serial"] = 4713; }),
       "line 6: the unit chosen (serial 4713) is not among the units "
       "offered on line 5"},
      {"OpenedAnotherUnit",
       changed([](std::vector<json>& l) { l[11]["unit address c"] = 3; }),
       "line 12: OpenDevice opened another address"},
      {"NameGivenTwiceDifferently",
       changed([](std::vector<json>& l) { l[9]["identity id"] = 7; }),
       "line 10: the server names this twice, differently"},
      {"ResultNotHexadecimal",
       changed([](std::vector<json>& l) { l[2]["result"] = "0"; }),
       "line 3: \"result\" is not a result"},
      {"StepsWithoutAUnit",
       changed([](std::vector<json>& l) { l.erase(l.begin() + 5); }),
       "no \"unit\" line says which unit it chose"},
      {"UnknownEntry",
       changed([](std::vector<json>& l) { l[3]["entry"] = "calls"; }),
       "line 4: unknown entry \"calls\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string message = "(made)";
    try {
      BenchFromRecord(c.record(), "job.jsonl", "/b");
    } catch (const BenchError& error) {
      message = error.what();
    }
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
  }
}

}  // namespace

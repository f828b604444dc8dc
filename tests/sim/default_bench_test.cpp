#include "sim/default_bench.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "sim/bench_json.h"
#include "sim/bench_location.h"
#include "sim/temp_folder.h"

namespace {

TEST(DefaultBench, TimingIsRealisticUnlessInstant) {
  const SimBench realistic = MakeDefaultBench("/b", BenchTiming::kRealistic);
  EXPECT_EQ(realistic.units[0].eraseMs, 1000u);
  EXPECT_EQ(realistic.units[0].programMs, 800u);
  const SimBench instant = MakeDefaultBench("/b", BenchTiming::kInstant);
  for (const SimUnit& unit : instant.units) {
    EXPECT_EQ(unit.eraseMs + unit.programMs + unit.erasePolls, 0u);
  }
}

TEST(DefaultBench, WritingAgainStartsFromErasedFlash) {
  TempFolder folder;
  WriteDefaultBench(folder.path(), BenchTiming::kInstant);
  const std::string blank = folder.path() + "/w3-bay4-code.bin";
  {
    std::fstream file(blank, std::ios::in | std::ios::out | std::ios::binary);
    file.put(0);
  }
  const SimBench bench = WriteDefaultBench(folder.path());
  EXPECT_EQ(BenchToJson(LoadBench(folder.path())), BenchToJson(bench));
  std::ifstream file(blank, std::ios::binary);
  EXPECT_EQ(file.get(), 0xFF);
}

TEST(BenchLocation, VariableFirstThenDataHomeThenHome) {
  std::map<std::string, std::string> environment;
  const EnvironmentReader variable =
      [&](const char* name) -> std::optional<std::string> {
    auto it = environment.find(name);
    if (it == environment.end()) return std::nullopt;
    return it->second;
  };
  EXPECT_THROW(BenchFolder(variable), BenchError);
  environment["LOCALAPPDATA"] = "C:/Users/op/AppData/Local";
  EXPECT_EQ(BenchFolder(variable), "C:/Users/op/AppData/Local/ecuprog/bench");
  environment["HOME"] = "/home/op";
  EXPECT_EQ(BenchFolder(variable), "/home/op/.local/share/ecuprog/bench");
  environment["XDG_DATA_HOME"] = "/data";
  EXPECT_EQ(BenchFolder(variable), "/data/ecuprog/bench");
  environment["ECUPROG_SIM_BENCH"] = "";  // empty counts as not set
  EXPECT_EQ(BenchFolder(variable), "/data/ecuprog/bench");
  environment["ECUPROG_SIM_BENCH"] = "/benches/one";
  EXPECT_EQ(BenchFolder(variable), "/benches/one");
}

TEST(BenchLocation, ARelativeBenchVariableIsRefused) {
  // The server does not run where the variable was set: COM starts it in
  // the system folder, where a relative path would name another bench.
  for (const char* relative :
       {"bench", "./bench", "../benches/one", "C:bench", "\\bench"}) {
    SCOPED_TRACE(relative);
    const EnvironmentReader variable =
        [&](const char* name) -> std::optional<std::string> {
      if (std::string(name) == "ECUPROG_SIM_BENCH") return relative;
      return "/home/op";
    };
    try {
      BenchFolder(variable);
      ADD_FAILURE() << "taken";
    } catch (const BenchError& error) {
      EXPECT_EQ(std::string(error.what()),
                "ECUPROG_SIM_BENCH is \"" + std::string(relative) +
                    "\", a relative path: it must give the bench folder's "
                    "full path");
    }
  }
}

TEST(BenchLocation, FirstUseMakesTheDefaultBench) {
  TempFolder folder;
  const std::string where = folder.path() + "/new/bench";
  const SimBench bench = OpenBench(where);
  EXPECT_EQ(bench.units.size(), 6u);
  EXPECT_EQ(bench.units[0].eraseMs, 1000u);
  EXPECT_TRUE(std::filesystem::exists(where + "/w3-bay1-code.bin"));
  // Later uses keep what the bench folder holds.
  std::ofstream(where + "/bench.json") << R"({"units": []})";
  EXPECT_TRUE(OpenBench(where).units.empty());
}

}  // namespace

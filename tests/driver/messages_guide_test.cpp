// The operator's guide (MESSAGES.txt) against the messages the tool can end
// a run with. Those are gathered from the tool's sources rather than from a
// list kept here, so a message added, reworded or removed in the code fails
// this test until the guide follows: every StopRun text is a literal in
// capitals, either at the call or in a table of texts beside it
// (programming/program_unit.cpp, the resource texts in blocks/).
#include "tests/messages_guide.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "programming/flash_region.h"

namespace {

namespace fs = std::filesystem;

const std::string kSource = ECUPROG_SOURCE_DIR;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const GuideEntry* EntryFor(const std::vector<GuideEntry>& entries,
                           const std::string& message) {
  for (const GuideEntry& entry : entries) {
    if (entry.message == message) return &entry;
  }
  return nullptr;
}

// A run's last message: a literal that starts with a capital letter, holds
// more than one word and no small letter. The listing's pieces start with
// a space (" NOT READY FOR CODE PROGRAMMING") and are not ends of a run.
std::set<std::string> MessagesIn(const std::string& code) {
  static const std::regex comment("//[^\n]*|/\\*[^*]*\\*+([^/*][^*]*\\*+)*/");
  static const std::regex literal("\"([A-Z][^\"a-z\\\\\n]* [^\"a-z\\\\\n]*)\"");
  std::string stripped = std::regex_replace(code, comment, "");
  std::set<std::string> found;
  for (std::sregex_iterator it(stripped.begin(), stripped.end(), literal), end;
       it != end; ++it) {
    found.insert((*it)[1]);
  }
  return found;
}

// Every source and header of the folders the tool is built from.
std::set<std::string> ToolMessages() {
  std::set<std::string> found;
  for (const char* folder :
       {"driver", "report", "blocks", "server", "programming", "platform"}) {
    for (const auto& entry :
         fs::recursive_directory_iterator(fs::path(kSource) / folder)) {
      std::string extension = entry.path().extension().string();
      if (extension != ".cpp" && extension != ".h") continue;
      std::set<std::string> inFile = MessagesIn(ReadText(entry.path()));
      found.insert(inFile.begin(), inFile.end());
    }
  }
  return found;
}

std::vector<GuideEntry> GuideEntries() {
  return ReadGuide(kSource + "/MESSAGES.txt");
}

TEST(MessagesGuide, TheScanFindsMessagesAtTheCallAndInTables) {
  std::set<std::string> found = MessagesIn(
      "StopRun(1, \"NO DEVICES FOUND\");\n"
      "{\"CODE FLASH ERASE FAILED\", \"Code flash erase ... \"},\n"
      "Print(\" (BAD BOOT CODE)\");  // \"IN A COMMENT ONLY\"\n"
      "Call(/* \"IN A BLOCK COMMENT\" */ \"STILL A MESSAGE\");\n"
      "constexpr char k[] = \"UNABLE TO CONTINUE - REQUIRE SERVER VERSION "
      "1.5+\";\n"
      "Print(\"W3\");\n");
  EXPECT_EQ(found, (std::set<std::string>{
                       "NO DEVICES FOUND", "CODE FLASH ERASE FAILED",
                       "STILL A MESSAGE",
                       "UNABLE TO CONTINUE - REQUIRE SERVER VERSION 1.5+"}));

  std::set<std::string> tool = ToolMessages();
  for (const char* known :
       {"PROGRAMMING SUCCESSFUL", "ERROR COMMUNICATING WITH SERVER",
        "PROFILE RESOURCE NOT FOUND", "STORE FLASH ERASE TIMED OUT"}) {
    EXPECT_EQ(tool.count(known), 1u) << known;
  }
}

TEST(MessagesGuide, ExplainsEveryMessageTheToolPrints) {
  std::set<std::string> guide;
  for (const GuideEntry& entry : GuideEntries()) guide.insert(entry.message);
  for (const std::string& message : ToolMessages()) {
    EXPECT_EQ(guide.count(message), 1u)
        << "MESSAGES.txt does not explain \"" << message << "\"";
  }
}

TEST(MessagesGuide, NamesOnlyMessagesTheToolPrints) {
  std::set<std::string> tool = ToolMessages();
  std::set<std::string> seen;
  for (const GuideEntry& entry : GuideEntries()) {
    EXPECT_TRUE(seen.insert(entry.message).second)
        << "MESSAGES.txt names \"" << entry.message << "\" twice";
    EXPECT_TRUE(tool.count(entry.message) == 1)
        << "MESSAGES.txt names \"" << entry.message
        << "\", which the tool no longer prints";
    EXPECT_TRUE(entry.explained)
        << "\"" << entry.message << "\" has no \"Means:\" and \"Do:\"";
  }
}

// One condition for a message that arises at one place; one per place, for
// every place, for a message that can arise anywhere.
TEST(MessagesGuide, EveryEntryStatesTheUnitsCondition) {
  for (const GuideEntry& entry : GuideEntries()) {
    SCOPED_TRACE(entry.message);
    ASSERT_FALSE(entry.units.empty()) << "no \"Unit:\" line";
    std::set<StopPlace> places;
    for (const std::string& text : entry.units) {
      ConditionLine line;
      ASSERT_TRUE(ParseConditionLine(text, &line)) << "Unit: " << text;
      if (entry.units.size() == 1) {
        EXPECT_FALSE(line.place) << "Unit: " << text;
      } else {
        ASSERT_TRUE(line.place) << "Unit: " << text;
        EXPECT_TRUE(places.insert(*line.place).second) << "Unit: " << text;
      }
    }
    if (entry.units.size() > 1) {
      EXPECT_EQ(places.size(), 4u);
    }
  }
}

TEST(MessagesGuide, ReadsTheConditionLinesAndThePlaceOfAStop) {
  struct LineCase {
    const char* text;
    bool read;
    GuideCondition condition;
    std::optional<StopPlace> place;
  };
  const LineCase lines[] = {
      {"untouched", true, GuideCondition::kUntouched, std::nullopt},
      {"written, reset not accepted", true, GuideCondition::kWrittenNoReset,
       std::nullopt},
      {"not contacted, if no \"Found :\" line stands above it", true,
       GuideCondition::kNotContacted, StopPlace::kBeforeListing},
      {"untouched, if it ends the \"Reset request ... \" line", true,
       GuideCondition::kUntouched, StopPlace::kReset},
      {"untouched (probably)", false, GuideCondition::kUntouched, {}},
      {"untouched, if all went well", false, GuideCondition::kUntouched, {}},
      {"may be erased", false, GuideCondition::kUntouched, {}},
      {"", false, GuideCondition::kUntouched, {}},
  };
  for (const LineCase& c : lines) {
    SCOPED_TRACE(c.text);
    ConditionLine line;
    ASSERT_EQ(ParseConditionLine(c.text, &line), c.read);
    if (!c.read) continue;
    EXPECT_EQ(line.condition, c.condition);
    EXPECT_EQ(line.place, c.place);
  }

  struct PlaceCase {
    const char* screen;
    StopPlace place;
  };
  const PlaceCase screens[] = {
      {"ecuprog 1.0.0\nReady to program W3 firmware release 1.463.1\n",
       StopPlace::kBeforeListing},
      {"Found : W3#4711 (Bay) BootV1.40 CodeV1.462.7\nPlease enter ... : 4711\n"
       "Access as Service : Full access\n",
       StopPlace::kChoosing},
      {"Found : W3#4711\nCode flash erase ... erasing ... ",
       StopPlace::kWriting},
      {"Found : W3#4711\nCode flash erase ... already blank\nCode flash "
       "program ... complete (0.1secs)\n",
       StopPlace::kWriting},
      {"Found : W3#4711\nStore flash program ... complete (0.1secs)\nReset "
       "request ... ",
       StopPlace::kReset},
  };
  for (const PlaceCase& c : screens) {
    EXPECT_EQ(PlaceOf(c.screen), c.place) << c.screen;
  }
}

// A unit that may be being written, by this run or another, must never be
// cut off: the guide may tell the operator not to switch a unit off, never
// to do it, except after a finished job.
TEST(MessagesGuide, NeverAdvisesCuttingOffAUnit) {
  static const std::regex cutOff(
      "(switch|turn)(ing)? (the unit |it )?(off|on and off|off and on)|"
      "unplug|disconnect");
  for (const GuideEntry& entry : GuideEntries()) {
    if (entry.message == "PROGRAMMING SUCCESSFUL") continue;
    SCOPED_TRACE(entry.message);
    const size_t advice = entry.text.find("Do:");
    ASSERT_NE(advice, std::string::npos);
    const std::string text = entry.text.substr(advice);
    for (std::sregex_iterator it(text.begin(), text.end(), cutOff), end;
         it != end; ++it) {
      // The sentence up to the advice must forbid it.
      const size_t at = static_cast<size_t>(it->position());
      const size_t sentence = text.find_last_of(".:;", at);
      const std::string before = text.substr(sentence, at - sentence);
      EXPECT_TRUE(before.find("not ") != std::string::npos ||
                  before.find("never ") != std::string::npos)
          << "advises \"" << it->str() << "\": " << text;
    }
  }
  const std::string whole = ReadText(fs::path(kSource) / "MESSAGES.txt");
  EXPECT_NE(whole.find("Never switch off or unplug a unit while a run"),
            std::string::npos);
}

// The operator must know how long the tool waited before leaving the
// unit to finish an erase that may still run.
TEST(MessagesGuide, ATimedOutEraseSaysHowLongTheToolWaited) {
  static_assert(kErasePolling.giveUpAfterMs % 60000 == 0,
                "the guide gives the limit in whole minutes");
  const std::string waited =
      "after " + std::to_string(kErasePolling.giveUpAfterMs / 60000) +
      " minutes";
  const std::vector<GuideEntry> entries = GuideEntries();
  for (const char* message :
       {"CODE FLASH ERASE TIMED OUT", "STORE FLASH ERASE TIMED OUT"}) {
    const GuideEntry* entry = EntryFor(entries, message);
    ASSERT_NE(entry, nullptr) << message;
    EXPECT_NE(entry->text.find(waited), std::string::npos) << entry->text;
    EXPECT_NE(entry->text.find("leave the unit powered"), std::string::npos)
        << entry->text;
  }
  // A refused code group changed nothing; look first for another job.
  const GuideEntry* group =
      EntryFor(entries, "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE");
  ASSERT_NE(group, nullptr);
  EXPECT_NE(group->text.find("Nothing was changed"), std::string::npos);
  EXPECT_NE(group->text.find("look for another run on this unit first"),
            std::string::npos);
  // A run closed mid-job holds the unit until COM's pings have failed
  // (a ping every two minutes, three missed): the operator must know how
  // long that is, or goes looking for a run that does not exist.
  EXPECT_NE(group->text.find("six minutes have passed"), std::string::npos)
      << group->text;
}

}  // namespace

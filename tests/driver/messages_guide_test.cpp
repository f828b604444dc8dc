// The operator's guide (MESSAGES.txt) against the messages the tool can end
// a run with. Those are gathered from the tool's sources rather than from a
// list kept here, so a message added, reworded or removed in the code fails
// this test until the guide follows: every StopRun text is a literal in
// capitals, either at the call or in a table of texts beside it
// (programming/program_unit.cpp, the resource texts in blocks/).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kSource = ECUPROG_SOURCE_DIR;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
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
       {"driver", "blocks", "server", "programming", "platform"}) {
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

// A heading: the message alone on its line, in double quotes, from the
// first column. A run of headings shares one explanation: the next line
// starts "Means:", and a "Do:" follows before the next heading.
struct GuideEntry {
  std::string message;
  bool explained = false;
};

bool IsHeading(const std::string& line) {
  return line.size() > 2 && line.front() == '"' && line.back() == '"';
}

std::vector<GuideEntry> GuideEntries() {
  std::istringstream guide(ReadText(fs::path(kSource) / "MESSAGES.txt"));
  std::vector<GuideEntry> entries;
  size_t group = 0;  // the first heading of the current run
  bool afterHeading = false;
  bool means = false;
  std::string line;
  while (std::getline(guide, line)) {
    if (IsHeading(line)) {
      if (!afterHeading) group = entries.size();
      entries.push_back({line.substr(1, line.size() - 2), false});
      afterHeading = true;
      means = false;
      continue;
    }
    if (afterHeading) means = line.find("Means:") != std::string::npos;
    afterHeading = false;
    if (means && line.find("Do:") != std::string::npos) {
      for (size_t i = group; i < entries.size(); ++i) {
        entries[i].explained = true;
      }
      means = false;
    }
  }
  return entries;
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

}  // namespace

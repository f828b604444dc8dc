// The README's rehearsal of a recovery, run as written: its shell lines are
// read out of README.md and typed into an interactive shell on a terminal,
// in a home folder of the test's own, from a folder where `build/default`
// is this build, as on a clone after `bash scripts/run-job.sh`. A tool
// run's comment says what the technician types and what the run shows:
//   answer N              N is typed at the serial number question
//   press Ctrl+C at "X"   Ctrl+C is typed once X is shown
//   `LINE`                a whole line of the run's output
//   "TEXT"                text the run shows
// The README changing its commands or its claims changes what runs here.
// The first run, on the bench as made, lists the units as the README's
// console dialogue shows them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/temp_folder.h"
#include "tests/e2e/process_runner.h"

namespace {

namespace fs = std::filesystem;

constexpr char kSection[] = "### Rehearsing a recovery";
// The shell's prompt carries the status of the line before it.
constexpr char kPromptEnd[] = "] rehearsal$ ";
const std::regex kPrompt("\\[([0-9]+)\\] rehearsal\\$ ");

struct ShellLine {
  std::string command;
  std::string comment;  // after " # ", or empty
};

// The `sh` blocks of the README's section, line by line.
std::vector<ShellLine> SectionLines(const std::string& readme) {
  std::vector<ShellLine> lines;
  std::istringstream in(readme);
  std::string line;
  bool inSection = false;
  bool inBlock = false;
  while (std::getline(in, line)) {
    if (!inBlock && line.rfind("#", 0) == 0) {
      if (inSection) break;
      inSection = line == kSection;
      continue;
    }
    if (!inSection) continue;
    if (line.rfind("```", 0) == 0) {
      inBlock = !inBlock && line == "```sh";
      continue;
    }
    if (!inBlock || line.empty()) continue;
    ShellLine shell{line, ""};
    size_t hash = line.find(" # ");
    if (hash != std::string::npos) {
      shell.command = line.substr(0, hash);
      shell.comment = line.substr(hash + 3);
    }
    lines.push_back(shell);
  }
  return lines;
}

// The "Found : " lines of a text, in order.
std::vector<std::string> FoundLines(const std::string& text) {
  std::vector<std::string> found;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Found : ", 0) == 0) found.push_back(line);
  }
  return found;
}

// The listing in the README's console dialogue: its first block.
std::vector<std::string> DialogueListing(const std::string& readme) {
  const size_t section = readme.find("## The console dialogue");
  const size_t start = readme.find("```\n", section);
  const size_t end = readme.find("```", start + 4);
  if (section == std::string::npos || start == std::string::npos ||
      end == std::string::npos) {
    return {};
  }
  return FoundLines(readme.substr(start, end - start));
}

bool RunsTheTool(const std::string& command) {
  std::string program = command.substr(0, command.find(' '));
  return program == "ecuprog" ||
         (program.size() > 8 &&
          program.compare(program.size() - 8, 8, "/ecuprog") == 0);
}

// What a tool run's comment asks for and promises.
struct Dialogue {
  std::string answer;       // empty: none
  std::string interruptAt;  // empty: the run goes to its end
  std::vector<std::string> shown;
  std::vector<std::string> wholeLines;
};

Dialogue ReadDialogue(const std::string& comment) {
  Dialogue dialogue;
  std::smatch match;
  if (std::regex_search(comment, match, std::regex("answer ([0-9]+)"))) {
    dialogue.answer = match[1];
  }
  std::string rest = comment;
  if (std::regex_search(comment, match,
                        std::regex("press Ctrl\\+C at \"([^\"]+)\""))) {
    dialogue.interruptAt = match[1];
    rest = match.prefix().str() + match.suffix().str();
  }
  const std::regex quoted("\"([^\"]+)\"");
  for (std::sregex_iterator it(rest.begin(), rest.end(), quoted), end;
       it != end; ++it) {
    dialogue.shown.push_back((*it)[1]);
  }
  const std::regex ticked("`([^`]+)`");
  for (std::sregex_iterator it(rest.begin(), rest.end(), ticked), end;
       it != end; ++it) {
    dialogue.wholeLines.push_back((*it)[1]);
  }
  return dialogue;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What each typed line wrote, and the status the next prompt gave for it.
struct LineResult {
  std::string output;
  int status = -1;
};

std::vector<LineResult> SplitAtPrompts(const std::string& output) {
  std::vector<LineResult> results;
  std::vector<std::smatch> prompts;
  for (std::sregex_iterator it(output.begin(), output.end(), kPrompt), end;
       it != end; ++it) {
    prompts.push_back(*it);
  }
  for (size_t i = 1; i < prompts.size(); ++i) {
    size_t from = prompts[i - 1].position(0) + prompts[i - 1].length(0);
    results.push_back({output.substr(from, prompts[i].position(0) - from),
                       std::stoi(prompts[i][1])});
  }
  return results;
}

TEST(ReadmeRehearsal, RunsAsWritten) {
  const std::string readmeText =
      ReadText(fs::path(ECUPROG_SOURCE_DIR) / "README.md");
  const std::vector<ShellLine> readme = SectionLines(readmeText);
  const std::vector<std::string> dialogueListing = DialogueListing(readmeText);
  ASSERT_FALSE(dialogueListing.empty()) << "no listing in the console dialogue";
  ASSERT_FALSE(readme.empty()) << "no sh lines under " << kSection;

  TempFolder folder;
  const std::string home = folder.path() + "/home";
  const std::string clone = folder.path() + "/clone";
  fs::create_directories(home);
  fs::create_directories(clone + "/build");
  fs::create_directory_symlink(ECUPROG_BUILD_DIR, clone + "/build/default");

  // What `bash scripts/run-job.sh` left: the build registered its simulator
  // for this user.
  // The terminal echoes nothing typed, so that a text the test waits for
  // is never found in a line it typed itself.
  std::vector<ShellLine> lines = {
      {"stty -echo", ""},
      {"cd '" + clone + "'", ""},
      {"build/default/sim/ecuprog-sim --register >/dev/null", ""}};
  lines.insert(lines.end(), readme.begin(), readme.end());

  ProcessSetup setup;
  // A fresh login: nothing of the test's own environment, no startup files.
  // Lines are read as the terminal gives them, without line editing.
  setup.argv = {
      "/usr/bin/env",       "-i",        "HOME=" + home,
      "PATH=/usr/bin:/bin", "TERM=dumb", std::string("PS1=[$?") + kPromptEnd,
      "/bin/bash",          "--norc",    "--noprofile",
      "--noediting",        "-i"};
  std::vector<Dialogue> dialogues(lines.size());
  // After a cut the unit finishes what it was given; the technician waits a
  // few seconds before running the job again.
  double pause = 0.05;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string typed = lines[i].comment.empty()
                                  ? lines[i].command
                                  : lines[i].command + " # " + lines[i].comment;
    setup.steps.emplace_back(kPromptEnd, typed + "\n", pause);
    pause = 0.05;
    if (!RunsTheTool(lines[i].command)) continue;
    Dialogue& dialogue = dialogues[i] = ReadDialogue(lines[i].comment);
    const char* question = "serial number of the device you wish to program : ";
    if (!dialogue.answer.empty()) {
      setup.steps.emplace_back(question, dialogue.answer + "\n");
    }
    if (!dialogue.interruptAt.empty()) {
      setup.steps.emplace_back(dialogue.interruptAt, "\x03");
      pause = 3;
    } else {
      setup.steps.emplace_back("Press space to exit", " ");
    }
  }
  setup.steps.emplace_back(kPromptEnd, "exit\n");
  setup.timeoutSeconds = 180;
  ProcessResult result = RunProcess(setup);
  const std::string output = WithoutCarriageReturns(result.output);
  ASSERT_FALSE(result.timedOut) << output;
  EXPECT_EQ(result.stepsDone, setup.steps.size()) << output;

  std::vector<LineResult> results = SplitAtPrompts(output);
  ASSERT_EQ(results.size(), lines.size()) << output;
  bool firstRun = true;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& command = lines[i].command;
    const LineResult& line = results[i];
    SCOPED_TRACE(command + "\n" + line.output);
    if (!RunsTheTool(command)) {
      EXPECT_EQ(line.status, 0);
      continue;
    }
    if (firstRun) {
      EXPECT_EQ(FoundLines(line.output), dialogueListing);
      firstRun = false;
    }
    const Dialogue& dialogue = dialogues[i];
    int expected = 1;
    if (!dialogue.interruptAt.empty()) expected = 128 + 2;  // SIGINT
    for (const std::string& text : dialogue.shown) {
      EXPECT_NE(line.output.find(text), std::string::npos) << text;
      if (text == "PROGRAMMING SUCCESSFUL") expected = 0;
    }
    EXPECT_EQ(line.status, expected);
    for (const std::string& text : dialogue.wholeLines) {
      EXPECT_NE(("\n" + line.output).find("\n" + text + "\n"),
                std::string::npos)
          << text;
    }
    // A cut run was cut: it did not reach the end of the job.
    if (!dialogue.interruptAt.empty()) {
      EXPECT_EQ(line.output.find("Reset request"), std::string::npos);
    }
  }
  // The bench the rehearsal made is in the home folder it was given.
  bool benchAtHome = false;
  for (const auto& entry : fs::recursive_directory_iterator(home)) {
    benchAtHome |= entry.path().filename() == "bench.json";
  }
  EXPECT_TRUE(benchAtHome);
}

}  // namespace

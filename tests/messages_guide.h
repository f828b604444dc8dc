// Reading the operator's guide (MESSAGES.txt) the way the tests hold it to
// the tool: its entries, each with the unit's condition and an explanation.
#ifndef ECUPROG_TESTS_MESSAGES_GUIDE_H
#define ECUPROG_TESTS_MESSAGES_GUIDE_H

#include <optional>
#include <string>
#include <vector>

/// One message of the guide. A heading is the message alone on its line,
/// in double quotes, from the first column. A run of headings shares what
/// follows: one or more "Unit:" lines, then "Means:" and, before the next
/// heading, "Do:".
struct GuideEntry {
  std::string message;
  /// The text after "Unit: " on each of the entry's condition lines.
  std::vector<std::string> units;
  bool explained = false;  // "Means:" and "Do:" follow the condition
  /// The entry's lines after its headings, up to the next blank line, as
  /// one text with single blanks between the words.
  std::string text;
};

/// What an entry says about the unit once the run has stopped.
enum class GuideCondition {
  kNotContacted,    // "not contacted"
  kUntouched,       // "untouched"
  kMayBeWritten,    // "may be erased or partly written (run the job again)"
  kWrittenNoReset,  // "written, reset not accepted"
  kProgrammed,      // "programmed"
};

/// How far a run had come when it stopped, as the screen shows it.
enum class StopPlace {
  kBeforeListing,  // no "Found :" line yet
  kChoosing,       // units listed, no flash step begun
  kWriting,        // a "Code flash" or "Store flash" step begun
  kReset,          // the reset requested
};

/// One "Unit:" line: the condition, and for a message that can stand at
/// several places, the place it applies to.
struct ConditionLine {
  GuideCondition condition;
  std::optional<StopPlace> place;
};

/// Reads the text after "Unit: "; false when it is not one of the fixed
/// conditions, or names a place in words other than the fixed ones.
bool ParseConditionLine(const std::string& text, ConditionLine* line);

/// Where a run stopped, from what it wrote before its message.
StopPlace PlaceOf(const std::string& outputBeforeMessage);

const char* ConditionName(GuideCondition condition);
const char* PlaceName(StopPlace place);

/// The entries of the guide at `path`, in its order.
std::vector<GuideEntry> ReadGuide(const std::string& path);

/// The guide's text.
std::string ReadGuideText(const std::string& path);

#endif  // ECUPROG_TESTS_MESSAGES_GUIDE_H

#include "tests/messages_guide.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

struct ConditionWords {
  GuideCondition condition;
  const char* words;
};
const ConditionWords kConditions[] = {
    {GuideCondition::kNotContacted, "not contacted"},
    {GuideCondition::kUntouched, "untouched"},
    {GuideCondition::kMayBeWritten,
     "may be erased or partly written (run the job again)"},
    {GuideCondition::kWrittenNoReset, "written, reset not accepted"},
    {GuideCondition::kProgrammed, "programmed"},
};

struct PlaceWords {
  StopPlace place;
  const char* words;  // after ", if "
};
const PlaceWords kPlaces[] = {
    {StopPlace::kBeforeListing, "no \"Found :\" line stands above it"},
    {StopPlace::kChoosing,
     "\"Found :\" lines stand above it but no \"Code flash erase\" line"},
    {StopPlace::kWriting,
     "a \"Code flash\" or \"Store flash\" line stands above it or it ends "
     "one"},
    {StopPlace::kReset, "it ends the \"Reset request ... \" line"},
};

bool IsHeading(const std::string& line) {
  return line.size() > 2 && line.front() == '"' && line.back() == '"';
}

// The line without its leading blanks.
std::string Trimmed(const std::string& line) {
  const size_t first = line.find_first_not_of(' ');
  return first == std::string::npos ? "" : line.substr(first);
}

}  // namespace

bool ParseConditionLine(const std::string& text, ConditionLine* line) {
  for (const ConditionWords& condition : kConditions) {
    const std::string words = condition.words;
    if (text.compare(0, words.size(), words) != 0) continue;
    const std::string rest = text.substr(words.size());
    line->condition = condition.condition;
    line->place.reset();
    if (rest.empty()) return true;
    for (const PlaceWords& place : kPlaces) {
      if (rest == std::string(", if ") + place.words) {
        line->place = place.place;
        return true;
      }
    }
  }
  return false;
}

StopPlace PlaceOf(const std::string& output) {
  if (output.find("Reset request ... ") != std::string::npos) {
    return StopPlace::kReset;
  }
  if (output.find("Code flash erase ... ") != std::string::npos) {
    return StopPlace::kWriting;
  }
  if (output.find("Found : ") != std::string::npos) {
    return StopPlace::kChoosing;
  }
  return StopPlace::kBeforeListing;
}

const char* ConditionName(GuideCondition condition) {
  for (const ConditionWords& words : kConditions) {
    if (words.condition == condition) return words.words;
  }
  return "?";
}

const char* PlaceName(StopPlace place) {
  switch (place) {
    case StopPlace::kBeforeListing:
      return "before the listing";
    case StopPlace::kChoosing:
      return "after the listing";
    case StopPlace::kWriting:
      return "in the flash steps";
    case StopPlace::kReset:
      return "at the reset";
  }
  return "?";
}

std::string ReadGuideText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<GuideEntry> ReadGuide(const std::string& path) {
  std::istringstream guide(ReadGuideText(path));
  std::vector<GuideEntry> entries;
  size_t group = 0;  // the first heading of the current run
  enum class Expect { kNothing, kHeadingOrUnit, kUnitOrMeans, kDo };
  Expect expect = Expect::kNothing;
  bool collecting = false;
  std::string line;
  while (std::getline(guide, line)) {
    if (IsHeading(line)) {
      if (expect != Expect::kHeadingOrUnit) group = entries.size();
      entries.push_back({line.substr(1, line.size() - 2), {}, false, ""});
      expect = Expect::kHeadingOrUnit;
      collecting = true;
      continue;
    }
    const std::string text = Trimmed(line);
    if (text.empty()) collecting = false;
    for (size_t i = group; collecting && i < entries.size(); ++i) {
      if (!entries[i].text.empty()) entries[i].text += ' ';
      entries[i].text += text;
    }
    if ((expect == Expect::kHeadingOrUnit || expect == Expect::kUnitOrMeans) &&
        text.rfind("Unit: ", 0) == 0) {
      for (size_t i = group; i < entries.size(); ++i) {
        entries[i].units.push_back(text.substr(6));
      }
      expect = Expect::kUnitOrMeans;
      continue;
    }
    if (expect == Expect::kUnitOrMeans && text.rfind("Means:", 0) == 0) {
      expect = Expect::kDo;
    } else if (expect != Expect::kDo) {
      expect = Expect::kNothing;
    }
    if (expect == Expect::kDo && text.rfind("Do:", 0) == 0) {
      for (size_t i = group; i < entries.size(); ++i) {
        entries[i].explained = true;
      }
      expect = Expect::kNothing;
    }
  }
  return entries;
}

#include "tests/e2e/guide_claims.h"

#include <algorithm>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"

namespace {

constexpr char kPressSpace[] = "\nPress space to exit\n";

// What the guide's line says against what the run shows; empty when the
// run bears it out.
std::string LineContradiction(const ConditionLine& line, StopPlace place,
                              const Observation& seen) {
  switch (line.condition) {
    case GuideCondition::kNotContacted:
      if (place != StopPlace::kBeforeListing) return "units were listed";
      if (seen.changed) return "the flash changed";
      return "";
    case GuideCondition::kUntouched:
      if (place > StopPlace::kChoosing) return "a flash step had begun";
      if (seen.changed) return "the flash changed";
      return "";
    case GuideCondition::kMayBeWritten:
      if (place != StopPlace::kWriting) {
        return std::string("the run stopped ") + PlaceName(place);
      }
      return "";
    case GuideCondition::kWrittenNoReset:
      if (place != StopPlace::kReset) return "no reset was requested";
      if (!seen.written) return "the flash does not hold the firmware";
      return "";
    case GuideCondition::kProgrammed:
      if (seen.exitCode != 0) return "the run failed";
      if (!seen.written) return "the flash does not hold the firmware";
      return "";
  }
  return "unknown condition";
}

}  // namespace

bool HoldsFirmware(const std::vector<uint8_t>& code,
                   const std::vector<uint8_t>& store,
                   const std::vector<uint8_t>& image,
                   const std::vector<uint8_t>& profile) {
  if (code.size() < image.size() || store.size() < profile.size()) {
    return false;
  }
  const size_t stamp = kCodeHeaderOffset + kProgramTimeOffset;
  for (size_t i = 0; i + 4 < image.size(); ++i) {
    if ((i < stamp || i >= stamp + 4) && code[i] != image[i]) return false;
  }
  return BlockCrc(code.data(), static_cast<uint32_t>(image.size() / 4)) == 0 &&
         std::equal(profile.begin(), profile.end(), store.begin());
}

void SplitAtMessage(const std::string& screen, Observation* seen) {
  const size_t end = screen.rfind(kPressSpace);
  if (end == std::string::npos) return;
  const size_t lineStart =
      end == 0 ? std::string::npos : screen.rfind('\n', end - 1);
  size_t start = lineStart == std::string::npos ? 0 : lineStart + 1;
  for (const std::string prefixEnd : {"... ", " : "}) {
    const size_t at = screen.rfind(prefixEnd, end);
    if (at != std::string::npos && at >= start) start = at + prefixEnd.size();
  }
  seen->message = screen.substr(start, end - start);
  seen->before = screen.substr(0, start);
}

std::string GuideContradiction(const GuideEntry& entry,
                               const Observation& seen) {
  const StopPlace place = PlaceOf(seen.before);
  const std::string* chosen = nullptr;
  ConditionLine line{};
  for (const std::string& text : entry.units) {
    ConditionLine read;
    if (!ParseConditionLine(text, &read)) return "unreadable: Unit: " + text;
    if (!read.place || *read.place == place) {
      chosen = &text;
      line = read;
    }
  }
  if (chosen == nullptr) {
    return std::string("no \"Unit:\" line for the message ") + PlaceName(place);
  }
  const std::string wrong = LineContradiction(line, place, seen);
  if (wrong.empty()) return "";
  return "\"" + entry.message + "\" says \"Unit: " + *chosen + "\", but " +
         wrong;
}

std::vector<GuideEntry> SourceGuide() {
  return ReadGuide(std::string(ECUPROG_SOURCE_DIR) + "/MESSAGES.txt");
}

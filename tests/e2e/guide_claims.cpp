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

namespace {

// The entry's "Unit:" line for where the run stopped; "" and `*why` when
// there is none.
const std::string* ChosenLine(const GuideEntry& entry, const Observation& seen,
                              ConditionLine* line, std::string* why) {
  const StopPlace place = PlaceOf(seen.before);
  const std::string* chosen = nullptr;
  for (const std::string& text : entry.units) {
    ConditionLine read;
    if (!ParseConditionLine(text, &read)) {
      *why = "unreadable: Unit: " + text;
      return nullptr;
    }
    if (!read.place || *read.place == place) {
      chosen = &text;
      *line = read;
    }
  }
  if (chosen == nullptr) {
    *why = std::string("no \"Unit:\" line for the message ") + PlaceName(place);
  }
  return chosen;
}

// How far the record shows the unit changed.
GuideCondition RecordedCondition(const std::vector<nlohmann::json>& record) {
  bool listed = false;
  bool touched = false;
  bool reset = false;
  bool finished = false;
  for (const nlohmann::json& line : record) {
    const std::string entry = line.value("entry", "");
    const std::string step = line.value("step", "");
    if (entry == "screen" &&
        line.value("text", "").find("Found : ") != std::string::npos) {
      listed = true;
    }
    if (entry == "step" && step == "reset") reset = true;
    if (entry == "step") touched = true;
    // An erase the unit refused at once changed nothing; it was the first
    // step of its region that could have.
    if (entry == "step end" && line.value("began", true) == false &&
        line.value("status", 0) != 0 &&
        line.value("result", "") == "0x00000000" && !reset &&
        step == "code erase") {
      touched = false;
    }
    // Both flashes written once the store flash program has succeeded.
    if (entry == "step end" && step == "store program" &&
        line.value("result", "") == "0x00000000" &&
        line.value("status", 1) == 0) {
      reset = true;
    }
    if (entry == "end" && line.value("exit code", -1) == 0) finished = true;
  }
  if (finished) return GuideCondition::kProgrammed;
  if (reset) return GuideCondition::kWrittenNoReset;
  if (touched) return GuideCondition::kMayBeWritten;
  return listed ? GuideCondition::kUntouched : GuideCondition::kNotContacted;
}

}  // namespace

std::string RecordContradiction(const GuideEntry& entry,
                                const Observation& seen,
                                const std::vector<nlohmann::json>& record) {
  ConditionLine line{};
  std::string why;
  if (ChosenLine(entry, seen, &line, &why) == nullptr) return why;
  if (record.empty()) {
    return line.condition == GuideCondition::kNotContacted
               ? ""
               : "the run kept no record";
  }
  const nlohmann::json& end = record.back();
  if (end.value("entry", "") != "end" ||
      end.value("message", "") != seen.message ||
      end.value("exit code", -2) != seen.exitCode) {
    return "the record does not end with the run's message: " + end.dump();
  }
  // The guide may be more careful than the record, never less: a unit it
  // calls untouched was not changed, and "may be erased" covers anything
  // short of a finished job.
  const GuideCondition recorded = RecordedCondition(record);
  bool agrees = recorded == line.condition;
  if (line.condition == GuideCondition::kUntouched) {
    agrees = agrees || recorded == GuideCondition::kNotContacted;
  }
  if (line.condition == GuideCondition::kMayBeWritten) {
    agrees = recorded != GuideCondition::kProgrammed;
  }
  if (agrees) return "";
  return std::string("the record shows the unit ") + ConditionName(recorded) +
         ", the guide says " + ConditionName(line.condition);
}

std::string LastStep(const std::vector<nlohmann::json>& record, bool open) {
  std::string last;
  for (const nlohmann::json& line : record) {
    if (line.value("entry", "") == "step") last = line.value("step", "");
    if (open && line.value("entry", "") == "step end") last = "";
  }
  return last;
}

std::string GuideContradiction(const GuideEntry& entry,
                               const Observation& seen) {
  ConditionLine line{};
  std::string why;
  const std::string* chosen = ChosenLine(entry, seen, &line, &why);
  if (chosen == nullptr) return why;
  const StopPlace place = PlaceOf(seen.before);
  const std::string wrong = LineContradiction(line, place, seen);
  if (wrong.empty()) return "";
  return "\"" + entry.message + "\" says \"Unit: " + *chosen + "\", but " +
         wrong;
}

std::vector<GuideEntry> SourceGuide() {
  return ReadGuide(std::string(ECUPROG_SOURCE_DIR) + "/MESSAGES.txt");
}

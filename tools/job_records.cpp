#include "tools/job_records.h"

#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "report/job_record.h"

namespace {

using nlohmann::json;

// The steps in a manager's words: the names the console gives them.
const std::pair<const char*, const char*> kStepNames[] = {
    {"code erase", "code flash erase"},
    {"code program", "code flash program"},
    {"store erase", "store flash erase"},
    {"store program", "store flash program"},
    {"reset", "reset request"},
};

std::string StepName(const std::string& step) {
  for (const auto& [recorded, shown] : kStepNames) {
    if (step == recorded) return shown;
  }
  return step.empty() ? "an unnamed step" : step;
}

// A field as text: strings as they are, numbers written out; "" for
// anything else, so that a field of an unexpected kind shows as missing
// rather than stopping the listing.
std::string Text(const json& line, const char* key) {
  const auto found = line.find(key);
  if (found == line.end()) return "";
  if (found->is_string()) return found->get<std::string>();
  if (found->is_number_integer() || found->is_number_unsigned()) {
    return found->dump();
  }
  return "";
}

bool Number(const json& line, const char* key, long long* value) {
  const auto found = line.find(key);
  if (found == line.end() || !found->is_number_integer()) return false;
  *value = found->get<long long>();
  return true;
}

struct Line {
  json value;
  std::string entry;
};

// The lines of `text`; false (and `*why`) at the first that is no JSON
// object with an "entry". A last line without its end that is no such
// object is left out and sets `*torn`.
bool SplitLines(const std::string& text, std::vector<Line>* lines, bool* torn,
                std::string* why) {
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    ++number;
    size_t end = text.find('\n', start);
    const bool ended = end != std::string::npos;
    if (!ended) end = text.size();
    std::string raw = text.substr(start, end - start);
    start = end + 1;
    // A record carried through a system that ends lines in CR LF.
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    json value = json::parse(raw, nullptr, /*allow_exceptions=*/false);
    const bool usable = value.is_object() && value.contains("entry") &&
                        value["entry"].is_string();
    if (!usable) {
      if (!ended && number > 1) {
        *torn = true;
        return true;
      }
      *why = raw.empty() ? "line " + std::to_string(number) + " is empty"
             : value.is_discarded()
                 ? "line " + std::to_string(number) + " is not JSON"
                 : "line " + std::to_string(number) +
                       " is no entry of a job record";
      return false;
    }
    Line line{std::move(value), ""};
    line.entry = line.value["entry"].get<std::string>();
    lines->push_back(std::move(line));
  }
  if (lines->empty()) {
    *why = "the record is empty";
    return false;
  }
  return true;
}

// The identity the code programmer was asked under, by the name the server
// gave it. An identity number may be known in more than one group: the
// group in which the unit granted full access (level 0), the one the tool
// chooses from, names it.
std::string IdentityName(const std::vector<Line>& lines) {
  long long chosen = -1;
  json identities = json::array();
  for (const Line& line : lines) {
    if (line.entry != "call") continue;
    const std::string call = Text(line.value, "call");
    if (call == "GetCodeProgrammer") {
      Number(line.value, "identity id", &chosen);
    } else if (call == "GetIdentities" && line.value.contains("identities") &&
               line.value["identities"].is_array()) {
      identities = line.value["identities"];
    }
  }
  if (chosen < 0) return "";
  auto fullAccess = [&](long long group) {
    for (const json& triple : identities) {
      if (triple.is_array() && triple.size() == 3 &&
          triple[0].is_number_integer() && triple[1].is_number_integer() &&
          triple[2].is_number_integer() &&
          triple[0].get<long long>() == group &&
          triple[1].get<long long>() == chosen &&
          triple[2].get<long long>() == 0) {
        return true;
      }
    }
    return false;
  };
  std::string name;
  bool named = false;
  for (const Line& line : lines) {
    long long id = -1;
    long long group = -1;
    if (line.entry != "call" || Text(line.value, "call") != "GetIdentityName" ||
        !Number(line.value, "identity id", &id) || id != chosen ||
        !line.value.contains("name")) {
      continue;
    }
    Number(line.value, "identity group", &group);
    if (!named || fullAccess(group)) {
      name = Text(line.value, "name");
      named = true;
      if (fullAccess(group)) break;
    }
  }
  return named ? name : "identity " + std::to_string(chosen) + " (no name)";
}

std::string Outcome(const std::vector<Line>& lines) {
  std::string lastStep;
  bool stepOpen = false;
  const Line* end = nullptr;
  for (const Line& line : lines) {
    if (line.entry == "step") {
      lastStep = Text(line.value, "step");
      stepOpen = true;
    } else if (line.entry == "step end" &&
               Text(line.value, "step") == lastStep) {
      stepOpen = false;
    } else if (line.entry == "end") {
      end = &line;
    }
  }
  if (end != nullptr) {
    long long exitCode = -1;
    Number(end->value, "exit code", &exitCode);
    if (exitCode == 0) return "finished";
    const std::string message = Text(end->value, "message");
    const std::string why = message.empty() ? "" : ": " + message;
    if (lastStep.empty()) return "refused" + why;
    return "stopped at " + StepName(lastStep) + why;
  }
  if (stepOpen) return "cut during " + StepName(lastStep);
  if (!lastStep.empty()) return "cut after " + StepName(lastStep);
  return "cut before programming";
}

}  // namespace

std::string CanonicalSerial(const std::string& text) {
  if (text.empty()) return "";
  size_t first = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return "";
  }
  while (first + 1 < text.size() && text[first] == '0') ++first;
  return text.substr(first);
}

RecordVerdict SummariseJobRecord(const std::string& text, JobSummary* job,
                                 std::string* why) {
  std::vector<Line> lines;
  bool torn = false;
  if (!SplitLines(text, &lines, &torn, why)) return RecordVerdict::kDamaged;
  const json& first = lines.front().value;
  if (lines.front().entry != "job") {
    *why = "its first line is no job line (\"" + lines.front().entry + "\")";
    return RecordVerdict::kDamaged;
  }
  long long format = 0;
  if (!Number(first, "format", &format) || format < 1) {
    *why = "its job line names no format";
    return RecordVerdict::kDamaged;
  }
  if (format > kJobRecordFormat) {
    *why = "written in format " + std::to_string(format) +
           ", later than this reader's (" + std::to_string(kJobRecordFormat) +
           "): read it with a newer ecuprog-records";
    return RecordVerdict::kDamaged;
  }
  job->started = Text(first, "started");
  job->pc = Text(first, "pc");
  job->user = Text(first, "user");
  for (const Line& line : lines) {
    if (line.entry == "firmware") {
      job->release = Text(line.value, "release");
    } else if (line.entry == "unit") {
      job->unitChosen = true;
      job->model = Text(line.value, "model");
      job->serial = Text(line.value, "serial");
      job->label = Text(line.value, "label");
      job->unitBefore = Text(line.value, "code release");
      job->unitHadRelease = !job->unitBefore.empty();
    }
  }
  job->identity = IdentityName(lines);
  job->outcome = Outcome(lines);
  return torn ? RecordVerdict::kTorn : RecordVerdict::kRead;
}

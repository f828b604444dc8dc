#include "tools/records_output.h"

#include <algorithm>

namespace {

const std::vector<std::string> kColumns = {"Started (UTC)", "PC",     "User",
                                           "Unit",          "Label",  "Release",
                                           "Identity",      "Outcome"};

// "2026-12-11T03:04:05.123Z" as "2026-12-11 03:04:05", which reads at a
// glance and which spreadsheets take for a time.
std::string StartedText(const std::string& started) {
  if (started.size() >= 19 && started[10] == 'T') {
    return started.substr(0, 10) + " " + started.substr(11, 8);
  }
  return started;
}

std::string UnitText(const JobSummary& job) {
  if (!job.unitChosen) return "";
  return job.model + "#" + job.serial;
}

std::string ReleaseText(const JobSummary& job) {
  if (!job.unitChosen) return job.release;
  return job.release + " (unit had " +
         (job.unitHadRelease ? job.unitBefore : std::string("none")) + ")";
}

std::vector<std::string> Row(const JobSummary& job) {
  return {StartedText(job.started),
          job.pc,
          job.user,
          UnitText(job),
          job.label,
          ReleaseText(job),
          job.identity,
          job.outcome};
}

// Characters, not bytes: UTF-8 continuation bytes take no column.
size_t Width(const std::string& text) {
  return static_cast<size_t>(std::count_if(
      text.begin(), text.end(),
      [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// A label or a name the server gave could hold a line end or a terminal's
// escape, which would break the table or drive the terminal.
std::string Printable(std::string text) {
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return text;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string CsvRow(const std::vector<std::string>& fields) {
  std::string row;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) row += ',';
    row += CsvField(fields[i]);
  }
  return row + "\n";
}

}  // namespace

std::string JobsTable(const std::vector<JobSummary>& jobs) {
  std::vector<std::vector<std::string>> rows = {kColumns};
  for (const JobSummary& job : jobs) {
    std::vector<std::string> row = Row(job);
    for (std::string& text : row) text = Printable(text);
    rows.push_back(row);
  }
  std::vector<size_t> widths(kColumns.size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], Width(row[i]));
    }
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size())
        line += std::string(widths[i] - Width(row[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    table += line + "\n";
  }
  return table;
}

std::string JobsCsv(const std::vector<JobSummary>& jobs) {
  std::vector<std::string> header = kColumns;
  header.push_back("Record");
  std::string csv = CsvRow(header);
  for (const JobSummary& job : jobs) {
    std::vector<std::string> row = Row(job);
    row.push_back(job.record);
    csv += CsvRow(row);
  }
  return csv;
}

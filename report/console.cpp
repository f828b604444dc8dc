#include "report/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "report/job_record.h"

namespace {

Console* g_console = nullptr;

Console& Out() { return g_console ? *g_console : SystemConsole(); }

// What the operator is shown goes into the job's record first, so that the
// record holds at least what the screen showed when the run was cut.
void Show(const char* text, size_t length) {
  RecordScreen(std::string(text, length));
  Out().Write(text, length);
}

bool IsFormatSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

}  // namespace

void SetConsole(Console* console) { g_console = console; }

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length > 0) {
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    Show(text.data(), static_cast<size_t>(length));
  }
  va_end(args);
}

void PrintWide(const OLECHAR* format, ...) {
  std::basic_string<OLECHAR> text;
  va_list args;
  va_start(args, format);
  for (const OLECHAR* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      text.push_back('%');
      ++p;
    } else if (p[0] == '%' && p[1] == 'l' && p[2] == 's') {
      const OLECHAR* argument = va_arg(args, const OLECHAR*);
      if (argument) text.append(argument);
      p += 2;
    } else {
      text.push_back(*p);
    }
  }
  va_end(args);
  if (JobRecordOpen()) RecordScreen(RecordText(text.data(), text.size()));
  Out().WriteWide(text.data(), text.size());
}

void PrintLine(const char* text) {
  std::string line(text);
  line.push_back('\n');
  Show(line.data(), line.size());
}

void FlushOutput() {
  RecordScreenShown();
  Out().Flush();
}

namespace {

// The characters the answer was read from, for the job's record.
class Answer {
 public:
  explicit Answer(Console& console) : console_(console) {}
  ~Answer() {
    if (JobRecordOpen()) RecordEntry({{"entry", "answer"}, {"text", text_}});
  }
  int Next() {
    int c = console_.ReadInputByte();
    if (c >= 0) text_.push_back(static_cast<char>(c));
    return c;
  }

 private:
  Console& console_;
  std::string text_;
};

}  // namespace

bool ReadDecimal(int32_t* value) {
  Answer console(Out());
  int c = console.Next();
  while (IsFormatSpace(c)) c = console.Next();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = console.Next();
  }
  // Accumulate as a negative number: its range is one wider, so INT32_MIN
  // is read without overflow.
  int64_t magnitude = 0;
  bool anyDigit = false;
  bool tooLarge = false;
  while (c >= '0' && c <= '9') {
    anyDigit = true;
    if (!tooLarge) {
      magnitude = magnitude * 10 + (c - '0');
      if (magnitude > int64_t{INT32_MAX} + 1) tooLarge = true;
    }
    c = console.Next();
  }
  if (!anyDigit || tooLarge) return false;
  int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT32_MAX) return false;
  *value = static_cast<int32_t>(signedValue);
  return true;
}

void WaitForSpace() {
  Console& console = Out();
  // The prompt must be on the screen before the wait, also when standard
  // output is a pipe and fully buffered.
  console.Flush();
  for (;;) {
    int key = console.ReadKey();
    if (key < 0 || key == ' ') return;
  }
}

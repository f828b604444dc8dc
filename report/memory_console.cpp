#include "report/memory_console.h"

#include <cstdio>

void MemoryConsole::Write(const char* text, size_t length) {
  output_.append(text, length);
}

void MemoryConsole::WriteWide(const OLECHAR* text, size_t length) {
  // Tests compare with narrow literals: keep ASCII as it is and write any
  // other character as \u{XXXX}.
  for (size_t i = 0; i < length; ++i) {
    unsigned unit = static_cast<unsigned>(text[i]);
    if (unit < 0x80) {
      output_.push_back(static_cast<char>(unit));
    } else {
      char escaped[16];
      std::snprintf(escaped, sizeof(escaped), "\\u{%04X}", unit);
      output_ += escaped;
    }
  }
}

int MemoryConsole::ReadInputByte() {
  if (inputPosition_ >= input_.size()) return -1;
  return static_cast<unsigned char>(input_[inputPosition_++]);
}

int MemoryConsole::ReadKey() {
  if (keyPosition_ >= keys_.size()) return -1;
  return static_cast<unsigned char>(keys_[keyPosition_++]);
}

// The operator's console: standard output, standard input and the keyboard.
//
// Abstract so it can be replaced in tests, tools and fuzzers; the run uses
// the system console of the host (platform/posix or platform/win32).
#ifndef ECUPROG_PLATFORM_CONSOLE_H
#define ECUPROG_PLATFORM_CONSOLE_H

#include <cstddef>

#include "platform/windows_api.h"

class Console {
 public:
  virtual ~Console() = default;

  /// Writes narrow text to standard output as it stands.
  virtual void Write(const char* text, size_t length) = 0;
  /// Writes wide (UTF-16) text to standard output.
  virtual void WriteWide(const OLECHAR* text, size_t length) = 0;
  /// Flushes standard output.
  virtual void Flush() = 0;
  /// The next byte of standard input, or -1 at its end or on an error.
  virtual int ReadInputByte() = 0;
  /// One key press, unechoed and unbuffered, from the console itself (not
  /// from a redirected standard input). -1 at once when no console can be
  /// read.
  virtual int ReadKey() = 0;
};

/// The console of the host the tool runs on.
Console& SystemConsole();

#endif  // ECUPROG_PLATFORM_CONSOLE_H

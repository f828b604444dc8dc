// The console conventions every phase follows.
//
// Whole lines are written with PrintLine, formatted text with Print (narrow)
// or PrintWide (wide, UTF-16 texts such as server strings). A progress
// prefix that a result word completes later is written with Print and then
// FlushOutput, so the operator sees it while the step runs.
#ifndef ECUPROG_REPORT_CONSOLE_H
#define ECUPROG_REPORT_CONSOLE_H

#include <cstdint>

#include "platform/console.h"

/// Narrow formatted output (printf conventions).
void Print(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/// Wide formatted output. The format is a wide literal (OLESTR); its only
/// conversions are %ls, which takes a wide text (a null text prints as
/// empty), and %%.
void PrintWide(const OLECHAR* format, ...);

/// Writes the text followed by a newline.
void PrintLine(const char* text);

void FlushOutput();

/// Reads one signed decimal number from standard input as "%d" does:
/// white space (line ends included) is skipped, an optional sign and the
/// digits follow, the number ends at the first other character. Returns
/// false when no number can be read: end of input, something that is not
/// a number, or a number outside the signed 32-bit range.
bool ReadDecimal(int32_t* value);

/// Reads key presses, unechoed, until a space; returns at once when no key
/// can be read.
void WaitForSpace();

/// Replaces the console for the rest of the process (tests, tools);
/// nullptr goes back to the system console.
void SetConsole(Console* console);

#endif  // ECUPROG_REPORT_CONSOLE_H

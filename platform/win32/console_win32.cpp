// The system console on Windows.
//
// Narrow text goes through the C runtime's stdout as it stands. Wide text
// must reach the same stream in the same order: on a console it is written
// with WriteConsoleW after the narrow text before it has been flushed, so
// every character shows whatever the console's code page; into a pipe or a
// file it goes as UTF-8 bytes through stdout, so a log holds one encoding.
// stdout itself stays in text mode: the CRT's own wide-mode switch would
// make every later narrow write fail.
#include <climits>
#include <cstdio>
#include <string>

#include "platform/console.h"

namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetConsoleMode(handle, &mode) != 0;
}

class Win32Console : public Console {
 public:
  void Write(const char* text, size_t length) override {
    std::fwrite(text, 1, length, stdout);
  }

  void WriteWide(const OLECHAR* text, size_t length) override {
    // Both conversions below count in int; no text the tool prints comes
    // near that.
    if (length == 0 || length > static_cast<size_t>(INT_MAX)) return;
    int units = static_cast<int>(length);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (IsConsole(out)) {
      // The narrow text written before must be on the screen first.
      std::fflush(stdout);
      while (units > 0) {
        DWORD written = 0;
        if (!WriteConsoleW(out, text, static_cast<DWORD>(units), &written,
                           /*lpReserved=*/nullptr) ||
            written == 0) {
          return;
        }
        text += written;
        units -= static_cast<int>(written);
      }
      return;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, /*dwFlags=*/0, text, units,
                                    /*lpMultiByteStr=*/nullptr, 0,
                                    /*lpDefaultChar=*/nullptr,
                                    /*lpUsedDefaultChar=*/nullptr);
    if (bytes <= 0) return;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, /*dwFlags=*/0, text, units, &utf8[0], bytes,
                        /*lpDefaultChar=*/nullptr,
                        /*lpUsedDefaultChar=*/nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  }

  void Flush() override { std::fflush(stdout); }

  int ReadInputByte() override {
    int c = std::getchar();
    return c == EOF ? -1 : c;
  }

  // Reads from the console itself (CONIN$), not standard input: the serial
  // number may have come through a pipe, but the final key must come from
  // the operator. The console mode is cleared (no line input, no echo) only
  // for the duration of the read and restored after it. Key events without
  // a character (Shift, arrows) are not key presses the caller can tell
  // apart, so they are passed over.
  int ReadKey() override {
    HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE,
                            /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                            /*dwFlagsAndAttributes=*/0,
                            /*hTemplateFile=*/nullptr);
    if (in == INVALID_HANDLE_VALUE) return -1;
    DWORD saved = 0;
    if (!GetConsoleMode(in, &saved) || !SetConsoleMode(in, 0)) {
      CloseHandle(in);
      return -1;
    }
    int key = -1;
    for (;;) {
      INPUT_RECORD record;
      DWORD count = 0;
      if (!ReadConsoleInputW(in, &record, 1, &count) || count != 1) break;
      if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
          record.Event.KeyEvent.uChar.UnicodeChar != 0) {
        key = record.Event.KeyEvent.uChar.UnicodeChar;
        break;
      }
    }
    SetConsoleMode(in, saved);
    CloseHandle(in);
    return key;
  }
};

}  // namespace

Console& SystemConsole() {
  static Win32Console console;
  return console;
}

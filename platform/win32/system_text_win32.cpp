// The C runtime's argv and getenv give Windows' UTF-16 text converted to
// the ANSI code page, where a letter the code page lacks becomes '?' and
// no longer names the file it named; so both are read here in UTF-16.
#include "platform/system_text.h"
#include "platform/win32/wide_path.h"
// Needs windows.h first.
#include <shellapi.h>

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8Text(wide[i]));
  LocalFree(wide);
  // The runtime split the same line; where the two splits disagree (quotes
  // the two read apart), argc is the count the caller has checked.
  if (count != argc) return std::vector<std::string>(argv, argv + argc);
  return arguments;
}

std::optional<std::string> EnvironmentText(const char* name) {
  const std::wstring wideName = WidePath(name);
  std::wstring value(256, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(
        wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    // Too small a buffer: the length asked for counts the closing NUL.
    if (length >= value.size()) {
      value.resize(length);
      continue;
    }
    value.resize(length);
    return Utf8Text(value);
  }
}

void WriteText(std::FILE* stream, const std::string& text) {
  const HANDLE handle =
      GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      GetConsoleMode(handle, &mode) == 0) {
    std::fwrite(text.data(), 1, text.size(), stream);
    return;
  }
  // The narrow text written before must be on the screen first.
  std::fflush(stream);
  const std::wstring wide = WidePath(text);
  const wchar_t* rest = wide.c_str();
  DWORD left = static_cast<DWORD>(wide.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(handle, rest, left, &written,
                       /*lpReserved=*/nullptr) ||
        written == 0) {
      return;
    }
    rest += written;
    left -= written;
  }
}

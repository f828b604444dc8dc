// Text that comes from the system or goes to it: the program's arguments,
// its environment, paths and messages. Inside the programs all of it is
// UTF-8; on Windows it is read and written in UTF-16, never through the
// ANSI code page, which cannot spell every name a user or a folder has.
#ifndef ECUPROG_PLATFORM_SYSTEM_TEXT_H
#define ECUPROG_PLATFORM_SYSTEM_TEXT_H

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

/// The program's arguments, the program's own name first. On Windows they
/// are read anew from the UTF-16 command line (argv holds them in the ANSI
/// code page); elsewhere they are argv as it stands.
std::vector<std::string> ProgramArguments(int argc, char** argv);

/// The value of the environment variable `name`; nullopt when it is not
/// set. On Windows read in UTF-16.
std::optional<std::string> EnvironmentText(const char* name);

/// Writes `text` to `stream` (stdout or stderr) so that it reads right: on
/// a Windows console as UTF-16, whatever the console's code page; into a
/// pipe or a file as the UTF-8 bytes, as the tool's console does.
void WriteText(std::FILE* stream, const std::string& text);

/// The path named by the UTF-8 text `text`, for std::filesystem: on
/// Windows the path's narrow constructor would read the text in the C
/// locale's code page.
inline std::filesystem::path PathOf(const std::string& text) {
  return std::filesystem::u8path(text);
}

/// The UTF-8 text of `path`.
inline std::string TextOf(const std::filesystem::path& path) {
  return path.u8string();
}

#endif  // ECUPROG_PLATFORM_SYSTEM_TEXT_H

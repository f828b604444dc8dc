// A UTF-8 path as the wide text the Windows file calls take.
#ifndef ECUPROG_PLATFORM_WIN32_WIDE_PATH_H
#define ECUPROG_PLATFORM_WIN32_WIDE_PATH_H

#include <string>

#include "platform/windows_api.h"

/// Forward slashes stay as they are: the file calls take both. Also any
/// other UTF-8 text.
inline std::wstring WidePath(const std::string& path) {
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  if (length <= 0) return L"";
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

/// The UTF-8 text of wide text from a Windows call: the one way back, as
/// WidePath is the one way there.
inline std::string Utf8Text(const std::wstring& wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr,
                                         0, nullptr, nullptr);
  if (length <= 0) return "";
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), length,
                      nullptr, nullptr);
  text.resize(static_cast<size_t>(length - 1));
  return text;
}

/// Opens `path` itself, never what a link there points to: a link (any
/// reparse point) is refused, and so is anything but a file on the disk (a
/// folder, a device, a pipe). INVALID_HANDLE_VALUE when it cannot, with the
/// last error ERROR_CANT_ACCESS_FILE for a link and ERROR_BAD_FILE_TYPE for
/// what is no file.
inline HANDLE OpenWithoutFollowing(const std::string& path, DWORD access,
                                   DWORD disposition) {
  HANDLE file =
      CreateFileW(WidePath(path).c_str(), access,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  /*lpSecurityAttributes=*/nullptr, disposition,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                  /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  // A device or a pipe (a name such as NUL or COM1 opens one wherever it
  // stands) is no file on the disk, and a read from it may never end.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    SetLastError(ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) {
    CloseHandle(file);
    SetLastError(ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(file);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(file);
    SetLastError(ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

#endif  // ECUPROG_PLATFORM_WIN32_WIDE_PATH_H

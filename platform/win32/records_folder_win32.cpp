#include <shlobj.h>

#include "platform/records_folder.h"
#include "platform/win32/wide_path.h"

std::string RecordsFolder(std::string* why) {
  // The known folder, not %LOCALAPPDATA%: the variable is the user's to
  // change, the folder is where Windows keeps the user's local data.
  PWSTR path = nullptr;
  const HRESULT result =
      SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT,
                           /*hToken=*/nullptr, &path);
  std::string folder;
  if (SUCCEEDED(result) && path != nullptr) {
    folder = Utf8Text(path) + "\\ecuprog\\records";
  } else {
    *why = "Windows names no local application data folder for this user";
  }
  CoTaskMemFree(path);
  return folder;
}

std::string ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &length)) return "";
  return Utf8Text(std::wstring(name, length));
}

std::string UserName() {
  wchar_t name[257];
  DWORD length = 257;
  if (!GetUserNameW(name, &length) || length == 0) return "";
  return Utf8Text(std::wstring(name, length - 1));
}

#include "platform/win32/classes_root.h"

namespace {

constexpr const wchar_t* kUserClasses = L"Software\\Classes";
constexpr const wchar_t* kProbe = L"ecuprog.ClassesProbe";

HKEY Open(HKEY root) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, kUserClasses, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

// Whether a key made among the user's classes shows in HKEY_CLASSES_ROOT,
// the view COM reads.
bool UserClassesSeen(HKEY userClasses) {
  HKEY probe = nullptr;
  if (RegCreateKeyExW(userClasses, kProbe, 0, nullptr, REG_OPTION_VOLATILE,
                      KEY_READ, nullptr, &probe, nullptr) != ERROR_SUCCESS) {
    return true;  // the registration itself will fail and say so
  }
  RegCloseKey(probe);
  HKEY seen = nullptr;
  const bool found = RegOpenKeyExW(HKEY_CLASSES_ROOT, kProbe, 0, KEY_READ,
                                   &seen) == ERROR_SUCCESS;
  if (found) RegCloseKey(seen);
  RegDeleteKeyW(userClasses, kProbe);
  return found;
}

}  // namespace

HKEY OpenClassesRoot() {
  HKEY user = Open(HKEY_CURRENT_USER);
  if (user == nullptr || UserClassesSeen(user)) return user;
  RegCloseKey(user);
  return Open(HKEY_LOCAL_MACHINE);
}

namespace {

// Beside a default value we set: the marker that it is ours, and the value
// it replaced.
constexpr const wchar_t* kOurs = L"ecuprog.registered";
constexpr const wchar_t* kReplaced = L"ecuprog.replaced";

HRESULT FromStatus(LONG status) {
  if (status == ERROR_SUCCESS) return S_OK;
  if (status == ERROR_ACCESS_DENIED) return E_ACCESSDENIED;
  return E_FAIL;
}

bool ReadText(HKEY key, const wchar_t* name, std::wstring* text) {
  DWORD size = 0;
  if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr,
                   &size) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer.data(),
                   &size) != ERROR_SUCCESS) {
    return false;
  }
  buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
  *text = buffer;
  return true;
}

LONG WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(
      key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool HasValue(HKEY key, const wchar_t* name) {
  return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

}  // namespace

HRESULT ReplaceDefault(HKEY classes, const wchar_t* path,
                       const std::wstring& value) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(classes, path, 0, nullptr, 0,
                                KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  std::wstring earlier;
  if (!HasValue(key, kOurs) && ReadText(key, nullptr, &earlier)) {
    status = WriteText(key, kReplaced, earlier);
  }
  if (status == ERROR_SUCCESS) status = WriteText(key, kOurs, L"simulator");
  if (status == ERROR_SUCCESS) status = WriteText(key, nullptr, value);
  RegCloseKey(key);
  return FromStatus(status);
}

HRESULT RestoreDefault(HKEY classes, const wchar_t* path) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExW(classes, path, 0, KEY_READ | KEY_WRITE, &key);
  if (status == ERROR_FILE_NOT_FOUND) return S_FALSE;
  if (status != ERROR_SUCCESS) return FromStatus(status);
  if (!HasValue(key, kOurs)) {
    RegCloseKey(key);
    return S_FALSE;
  }
  std::wstring earlier;
  if (ReadText(key, kReplaced, &earlier)) {
    status = WriteText(key, nullptr, earlier);
    if (status == ERROR_SUCCESS) status = RegDeleteValueW(key, kReplaced);
    if (status == ERROR_SUCCESS) status = RegDeleteValueW(key, kOurs);
    RegCloseKey(key);
    return FromStatus(status);
  }
  RegCloseKey(key);
  status = RegDeleteTreeW(classes, path);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  // The parent, when nothing else is registered in it.
  const std::wstring parent(path);
  const size_t slash = parent.find_last_of(L'\\');
  if (slash != std::wstring::npos) {
    HKEY above = nullptr;
    if (RegOpenKeyExW(classes, parent.substr(0, slash).c_str(), 0, KEY_READ,
                      &above) == ERROR_SUCCESS) {
      DWORD subkeys = 1;
      DWORD values = 1;
      RegQueryInfoKeyW(above, nullptr, nullptr, nullptr, &subkeys, nullptr,
                       nullptr, &values, nullptr, nullptr, nullptr, nullptr);
      RegCloseKey(above);
      if (subkeys == 0 && values == 0) {
        RegDeleteKeyW(classes, parent.substr(0, slash).c_str());
      }
    }
  }
  return S_OK;
}

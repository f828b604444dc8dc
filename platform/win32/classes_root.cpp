#include "platform/win32/classes_root.h"

#include "platform/win32/registry_key.h"

namespace {

constexpr const wchar_t* kUserClasses = L"Software\\Classes";
constexpr const wchar_t* kProbe = L"ecuprog.ClassesProbe";

HKEY Open(HKEY root) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, kUserClasses, 0, nullptr, 0,
                      KEY_READ | KEY_WRITE | CurrentViewAccess(), nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

// Whether a key made among the user's classes shows in HKEY_CLASSES_ROOT,
// the view COM reads.
bool UserClassesSeen(HKEY userClasses) {
  HKEY probe = nullptr;
  if (RegCreateKeyExW(userClasses, kProbe, 0, nullptr, REG_OPTION_VOLATILE,
                      KEY_READ | CurrentViewAccess(), nullptr, &probe,
                      nullptr) != ERROR_SUCCESS) {
    return true;  // the registration itself will fail and say so
  }
  RegCloseKey(probe);
  HKEY seen = nullptr;
  const bool found =
      RegOpenKeyExW(HKEY_CLASSES_ROOT, kProbe, 0,
                    KEY_READ | CurrentViewAccess(), &seen) == ERROR_SUCCESS;
  if (found) RegCloseKey(seen);
  RegDeleteKeyExW(userClasses, kProbe, CurrentViewAccess(), 0);
  return found;
}

}  // namespace

HKEY OpenClassesRoot() {
  HKEY user = Open(HKEY_CURRENT_USER);
  if (user == nullptr || UserClassesSeen(user)) return user;
  RegCloseKey(user);
  return Open(HKEY_LOCAL_MACHINE);
}

bool ClassesRootIsUsers() {
  HKEY user = Open(HKEY_CURRENT_USER);
  if (user == nullptr) return false;
  const bool seen = UserClassesSeen(user);
  RegCloseKey(user);
  return seen;
}

#include "platform/win32/registry_key.h"

#include <algorithm>

namespace {

void (*changeHook)() = nullptr;

RegistryView currentView = OwnRegistryView();

void BeforeChange() {
  if (changeHook != nullptr) changeHook();
}

void Check(LONG status) {
  if (status == ERROR_SUCCESS) return;
  throw RegistryError{status == ERROR_ACCESS_DENIED ? E_ACCESSDENIED : E_FAIL};
}

// A missing key or value is what the caller asked for.
void CheckGone(LONG status) {
  if (status != ERROR_FILE_NOT_FOUND) Check(status);
}

struct KeySizes {
  DWORD subkeys = 0;
  DWORD longestSubkey = 0;
  DWORD values = 0;
  DWORD longestValueName = 0;
};

KeySizes Sizes(HKEY key) {
  KeySizes sizes;
  Check(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &sizes.subkeys,
                         &sizes.longestSubkey, nullptr, &sizes.values,
                         &sizes.longestValueName, nullptr, nullptr, nullptr));
  return sizes;
}

}  // namespace

RegistryView OwnRegistryView() {
  return sizeof(void*) == 8 ? RegistryView::k64 : RegistryView::k32;
}

RegistryView OtherRegistryView() {
  return OwnRegistryView() == RegistryView::k64 ? RegistryView::k32
                                                : RegistryView::k64;
}

bool OtherRegistryViewExists() {
  if (OwnRegistryView() == RegistryView::k64) return true;
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

RegistryView CurrentRegistryView() { return currentView; }

RegistryViewScope::RegistryViewScope(RegistryView view)
    : previous_(currentView) {
  currentView = view;
}

RegistryViewScope::~RegistryViewScope() { currentView = previous_; }

// Every key is opened naming its view: a handle does not carry the view it
// was opened in to the keys opened below it.
REGSAM CurrentViewAccess() {
  return currentView == RegistryView::k64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

RegistryKey::~RegistryKey() {
  if (key_ != nullptr) RegCloseKey(key_);
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = other.key_;
    other.key_ = nullptr;
  }
  return *this;
}

RegistryValue TextValue(const std::wstring& text) {
  RegistryValue value;
  value.type = REG_SZ;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
  return value;
}

RegistryKey OpenKey(HKEY parent, const std::wstring& path) {
  HKEY key = nullptr;
  const LONG status =
      RegOpenKeyExW(parent, path.c_str(), 0,
                    KEY_READ | KEY_WRITE | CurrentViewAccess(), &key);
  if (status == ERROR_FILE_NOT_FOUND) return RegistryKey();
  Check(status);
  return RegistryKey(key);
}

RegistryKey CreateKey(HKEY parent, const std::wstring& path, bool* created) {
  BeforeChange();
  HKEY key = nullptr;
  DWORD disposition = 0;
  Check(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0,
                        KEY_READ | KEY_WRITE | CurrentViewAccess(), nullptr,
                        &key, &disposition));
  if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  return RegistryKey(key);
}

bool ReadValue(HKEY key, const std::wstring& name, RegistryValue* value) {
  for (;;) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status =
        RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return false;
    Check(status);
    value->type = type;
    value->data.resize(size);
    status = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                              value->data.data(), &size);
    // Rewritten longer between the two calls: ask again.
    if (status == ERROR_MORE_DATA) continue;
    if (status == ERROR_FILE_NOT_FOUND) return false;
    Check(status);
    value->type = type;
    value->data.resize(size);
    return true;
  }
}

void WriteValue(HKEY key, const std::wstring& name,
                const RegistryValue& value) {
  BeforeChange();
  Check(RegSetValueExW(key, name.c_str(), 0, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size())));
}

void DeleteValue(HKEY key, const std::wstring& name) {
  BeforeChange();
  CheckGone(RegDeleteValueW(key, name.c_str()));
}

void DeleteKey(HKEY parent, const std::wstring& path) {
  BeforeChange();
  CheckGone(RegDeleteKeyExW(parent, path.c_str(), CurrentViewAccess(), 0));
}

void DeleteTree(HKEY parent, const std::wstring& path) {
  BeforeChange();
  // RegDeleteTreeW opens the key in the program's own view: it is given the
  // key opened in the current one, and empties it; the key itself goes
  // after.
  HKEY key = nullptr;
  const LONG status =
      RegOpenKeyExW(parent, path.c_str(), 0,
                    KEY_READ | KEY_WRITE | DELETE | CurrentViewAccess(), &key);
  if (status == ERROR_FILE_NOT_FOUND) return;
  Check(status);
  const LONG emptied = RegDeleteTreeW(key, nullptr);
  RegCloseKey(key);
  CheckGone(emptied);
  CheckGone(RegDeleteKeyExW(parent, path.c_str(), CurrentViewAccess(), 0));
}

void CopyTree(HKEY from, HKEY to) {
  BeforeChange();
  Check(RegCopyTreeW(from, nullptr, to));
}

namespace {

// The names `next` lists one by one (by index, into a buffer of `longest`
// characters and the end), sorted.
template <typename Next>
std::vector<std::wstring> Names(DWORD longest, Next next) {
  std::vector<std::wstring> names;
  std::vector<wchar_t> buffer(longest + 1);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG status = next(index, buffer.data(), &length);
    if (status == ERROR_NO_MORE_ITEMS) break;
    Check(status);
    names.emplace_back(buffer.data(), length);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::vector<std::wstring> ValueNames(HKEY key) {
  return Names(Sizes(key).longestValueName,
               [key](DWORD index, wchar_t* name, DWORD* length) {
                 return RegEnumValueW(key, index, name, length, nullptr,
                                      nullptr, nullptr, nullptr);
               });
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
  return Names(Sizes(key).longestSubkey,
               [key](DWORD index, wchar_t* name, DWORD* length) {
                 return RegEnumKeyExW(key, index, name, length, nullptr,
                                      nullptr, nullptr, nullptr);
               });
}

bool SameTree(HKEY a, HKEY b) {
  const std::vector<std::wstring> values = ValueNames(a);
  if (values != ValueNames(b)) return false;
  for (const std::wstring& name : values) {
    RegistryValue first;
    RegistryValue second;
    if (ReadValue(a, name, &first) != ReadValue(b, name, &second) ||
        first != second) {
      return false;
    }
  }
  const std::vector<std::wstring> subkeys = SubkeyNames(a);
  if (subkeys != SubkeyNames(b)) return false;
  for (const std::wstring& name : subkeys) {
    const RegistryKey first = OpenKey(a, name);
    const RegistryKey second = OpenKey(b, name);
    if (!first || !second || !SameTree(first.get(), second.get())) {
      return false;
    }
  }
  return true;
}

void SetRegistryChangeHook(void (*hook)()) { changeHook = hook; }

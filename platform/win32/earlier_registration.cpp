#include "platform/win32/earlier_registration.h"

#include "platform/win32/registry_key.h"

namespace {

constexpr const wchar_t* kMark = L"ecuprog.registered";
constexpr const wchar_t* kReplaced = L"ecuprog.replaced";
constexpr const wchar_t* kMadeWhole = L"ecuprog.made";

bool HasValue(HKEY key, const wchar_t* name) {
  RegistryValue value;
  return ReadValue(key, name, &value);
}

bool IsEmpty(HKEY key) {
  return ValueNames(key).empty() && SubkeyNames(key).empty();
}

// Removes the key `path` when nothing is left in it.
void DeleteIfEmpty(HKEY classes, const std::wstring& path) {
  const RegistryKey key = OpenKey(classes, path);
  if (key && IsEmpty(key.get())) DeleteKey(classes, path);
}

// Whether `key` holds its default value and nothing else.
bool OnlyDefault(HKEY key) {
  const std::vector<std::wstring> values = ValueNames(key);
  return SubkeyNames(key).empty() && values.size() == 1 &&
         values.front().empty();
}

}  // namespace

HRESULT UndoEarlierDefault(HKEY classes, const std::wstring& path) {
  try {
    RegistryKey key = OpenKey(classes, path);
    if (!key) return S_FALSE;
    RegistryValue replaced;
    const bool kept = ReadValue(key.get(), kReplaced, &replaced);
    if (!HasValue(key.get(), kMark)) {
      // Kept while registering and never marked, or put back and unmarked:
      // the default is the other program's.
      if (!kept) return S_FALSE;
      DeleteValue(key.get(), kReplaced);
      return S_OK;
    }
    if (kept) {
      WriteValue(key.get(), L"", replaced);
      DeleteValue(key.get(), kMark);
      DeleteValue(key.get(), kReplaced);
      return S_OK;
    }
    DeleteValue(key.get(), L"");
    DeleteValue(key.get(), kMark);
    if (IsEmpty(key.get())) {
      key = RegistryKey();
      DeleteKey(classes, path);
      const size_t slash = path.find_last_of(L'\\');
      if (slash != std::wstring::npos) {
        DeleteIfEmpty(classes, path.substr(0, slash));
      }
    }
    return S_OK;
  } catch (const RegistryError& error) {
    return error.result;
  }
}

HRESULT UndoEarlierInterface(HKEY classes, const std::wstring& path) {
  try {
    RegistryKey key = OpenKey(classes, path);
    if (!key || !HasValue(key.get(), kMadeWhole)) return S_FALSE;
    const std::wstring methods = path + L"\\NumMethods";
    const RegistryKey count = OpenKey(classes, methods);
    if (count && OnlyDefault(count.get())) DeleteKey(classes, methods);
    DeleteValue(key.get(), L"");
    const std::vector<std::wstring> values = ValueNames(key.get());
    if (SubkeyNames(key.get()).empty() && values.size() == 1) {
      key = RegistryKey();
      DeleteKey(classes, path);
    } else {
      DeleteValue(key.get(), kMadeWhole);
    }
    return S_OK;
  } catch (const RegistryError& error) {
    return error.result;
  }
}

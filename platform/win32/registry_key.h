// The registry calls a registration is made of: keys that close themselves,
// values read and written with their type, and every change to the
// registry through one of a few functions, so that tests can stop a
// registration after any number of changes.
#ifndef ECUPROG_PLATFORM_WIN32_REGISTRY_KEY_H
#define ECUPROG_PLATFORM_WIN32_REGISTRY_KEY_H

#include <string>
#include <vector>

#include "platform/windows_api.h"

/// An open key, closed when it goes; empty when the key was not there.
class RegistryKey {
 public:
  RegistryKey() = default;
  explicit RegistryKey(HKEY key) : key_(key) {}
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept : key_(other.key_) {
    other.key_ = nullptr;
  }
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

/// A registry call that failed for another reason than a missing key or
/// value; `result` is E_ACCESSDENIED or E_FAIL.
struct RegistryError {
  HRESULT result;
};

/// A value as stored: its type (REG_SZ, REG_EXPAND_SZ, ...) and its bytes.
struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;

  bool operator==(const RegistryValue& other) const {
    return type == other.type && data == other.data;
  }
  bool operator!=(const RegistryValue& other) const {
    return !(*this == other);
  }
};

/// A REG_SZ value holding `text`.
RegistryValue TextValue(const std::wstring& text);

/// Opens `path` below `parent` for reading and writing; an empty key when
/// it is not there. Throws RegistryError.
RegistryKey OpenKey(HKEY parent, const std::wstring& path);

/// Opens `path` below `parent`, creating it (and the keys above it) when it
/// is not there; `created` tells which happened. Throws RegistryError.
RegistryKey CreateKey(HKEY parent, const std::wstring& path,
                      bool* created = nullptr);

/// Reads the value `name` (empty: the key's default value); false when
/// there is none. Throws RegistryError.
bool ReadValue(HKEY key, const std::wstring& name, RegistryValue* value);

/// Sets the value `name`. Throws RegistryError.
void WriteValue(HKEY key, const std::wstring& name, const RegistryValue& value);

/// Removes the value `name`; a missing value is no failure.
void DeleteValue(HKEY key, const std::wstring& name);

/// Removes the key `path` below `parent` when it has no subkeys; a missing
/// key is no failure.
void DeleteKey(HKEY parent, const std::wstring& path);

/// Removes the key `path` below `parent` with everything below it; a
/// missing key is no failure.
void DeleteTree(HKEY parent, const std::wstring& path);

/// Copies the values and subkeys of `from` into `to`.
void CopyTree(HKEY from, HKEY to);

/// The names of the key's values (the default value's is empty) and of its
/// subkeys.
std::vector<std::wstring> ValueNames(HKEY key);
std::vector<std::wstring> SubkeyNames(HKEY key);

/// Whether two keys hold the same values, with the same types, and the same
/// subkeys holding the same, all the way down.
bool SameTree(HKEY a, HKEY b);

/// The registry views of a 64-bit Windows: COM's classes for 32-bit
/// programs are kept apart from those for 64-bit ones. A 32-bit Windows has
/// one view, which both name.
enum class RegistryView { k32, k64 };

/// The view of this program's own bitness.
RegistryView OwnRegistryView();

/// The view of programs of the other bitness.
RegistryView OtherRegistryView();

/// Whether this Windows keeps the other view apart (it is 64-bit).
bool OtherRegistryViewExists();

/// The view every call of this file opens keys in: the own one, or the one
/// a RegistryViewScope chose while it lasts.
RegistryView CurrentRegistryView();

/// Makes every call of this file open keys in `view` until it goes.
class RegistryViewScope {
 public:
  explicit RegistryViewScope(RegistryView view);
  ~RegistryViewScope();
  RegistryViewScope(const RegistryViewScope&) = delete;
  RegistryViewScope& operator=(const RegistryViewScope&) = delete;

 private:
  RegistryView previous_;
};

/// The access flag that opens a key in the current view, for registry
/// calls made outside this file.
REGSAM CurrentViewAccess();

/// Called before every change to the registry made through this file.
/// Exists for tests, which throw from it to stop a registration part-way
/// through; null (the default) calls nothing.
void SetRegistryChangeHook(void (*hook)());

#endif  // ECUPROG_PLATFORM_WIN32_REGISTRY_KEY_H

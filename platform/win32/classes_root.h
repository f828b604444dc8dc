// Where this user's COM registrations go.
#ifndef ECUPROG_PLATFORM_WIN32_CLASSES_ROOT_H
#define ECUPROG_PLATFORM_WIN32_CLASSES_ROOT_H

#include <string>

#include "platform/windows_api.h"

/// The key below which registrations go ("CLSID\\{...}", "Interface\\{...}"),
/// opened for reading and writing; the caller closes it. nullptr when no
/// such key can be opened.
///
/// It is HKEY_CURRENT_USER\Software\Classes, which Windows COM reads before
/// the machine's classes: registering needs no administrator, and a
/// registration shadows a machine-wide one (the device maker's server) only
/// for this user and leaves it untouched when removed. Where COM does not
/// read the user's classes (Wine 8 reads only the machine's), it is
/// HKEY_LOCAL_MACHINE\Software\Classes; there a registration replaces the
/// machine's.
HKEY OpenClassesRoot();

/// Makes `value` the default value of the key `path` below `classes`,
/// creating the key. A default value another program registered there is
/// kept beside it, so that RestoreDefault can put it back. Returns S_OK,
/// E_ACCESSDENIED or E_FAIL.
HRESULT ReplaceDefault(HKEY classes, const wchar_t* path,
                       const std::wstring& value);

/// Undoes ReplaceDefault: puts back the value it kept, or removes the key
/// (with what is below it) when it kept none, and then its parent when
/// that is left empty. S_FALSE when the key holds no value ReplaceDefault
/// made (it is left as it is).
HRESULT RestoreDefault(HKEY classes, const wchar_t* path);

#endif  // ECUPROG_PLATFORM_WIN32_CLASSES_ROOT_H

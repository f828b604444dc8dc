// Registrations an earlier version of the simulator made, before it kept a
// journal: it replaced a key's default value, marking the key with
// `ecuprog.registered` and keeping a REG_SZ default it replaced as
// `ecuprog.replaced`, and marked the interface keys it made whole with
// `ecuprog.made`. Unregistering takes them back too, so that upgrading the
// simulator never leaves it registered.
#ifndef ECUPROG_PLATFORM_WIN32_EARLIER_REGISTRATION_H
#define ECUPROG_PLATFORM_WIN32_EARLIER_REGISTRATION_H

#include <string>

#include "platform/windows_api.h"

/// Puts back the default value of the key `path` an earlier version
/// replaced and removes its marks, the mark last. Where it kept no value,
/// the default goes, and so does the key when nothing else is left in it
/// (and then its parent, when that is left empty). Returns S_OK, S_FALSE
/// when there is no such registration, E_ACCESSDENIED or E_FAIL.
HRESULT UndoEarlierDefault(HKEY classes, const std::wstring& path);

/// Removes what an earlier version wrote into an interface key it made
/// whole (its name and NumMethods), and the key when nothing else is left
/// in it. Returns S_OK, S_FALSE when the key is no such key,
/// E_ACCESSDENIED or E_FAIL.
HRESULT UndoEarlierInterface(HKEY classes, const std::wstring& path);

#endif  // ECUPROG_PLATFORM_WIN32_EARLIER_REGISTRATION_H

// Where this user's COM registrations go.
#ifndef ECUPROG_PLATFORM_WIN32_CLASSES_ROOT_H
#define ECUPROG_PLATFORM_WIN32_CLASSES_ROOT_H

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
/// HKEY_LOCAL_MACHINE\Software\Classes. Wherever another program's entries
/// share the hive (there, or a device maker's server installed per user), a
/// registration keeps what it replaces (registration_journal.h).
///
/// The classes are those of the current registry view (registry_key.h):
/// for programs of this one's bitness unless a RegistryViewScope says
/// otherwise.
HKEY OpenClassesRoot();

/// Whether OpenClassesRoot gives the user's classes (not the machine's).
bool ClassesRootIsUsers();

#endif  // ECUPROG_PLATFORM_WIN32_CLASSES_ROOT_H

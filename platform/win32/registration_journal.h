// Registrations that can always be taken back.
//
// A registration sets values in keys below the classes root, where another
// program (the device maker's server) may have its own entries. Before it
// changes a key it keeps the whole key as it was, every value with its type
// and every subkey, in a journal key beside the classes it changes:
//
//   <classes>\ecuprog.RegistrationJournal      made before the first change,
//                                              removed after the last undo
//                                              (...Journal32 among the
//                                              classes for 32-bit programs)
//     0001  key     = "CLSID\{...}\LocalServer32"   the key it is about
//           state   = "existed"   the key was there; `before` is all of it
//                     "creating"  the key was not there; this program made
//                                 it and marked it with ecuprog.created
//           before\   the key as it was (values, types, subkeys)
//           writing\  values about to be set, with their types
//           wrote\    values set
//     0002  ...
//
// Each step is one change, taken in an order that leaves a state the undo
// can finish wherever the registration or the undo stops. An entry without
// `key` is one whose making or removal stopped half-way; it is dropped.
#ifndef ECUPROG_PLATFORM_WIN32_REGISTRATION_JOURNAL_H
#define ECUPROG_PLATFORM_WIN32_REGISTRATION_JOURNAL_H

#include <string>
#include <vector>

#include "platform/win32/registry_key.h"
#include "platform/windows_api.h"

/// One value a registration sets: `name` (empty: the default value) in the
/// key `key` below the classes root.
struct RegistrationValue {
  std::wstring key;
  std::wstring name;
  RegistryValue value;
};

/// Sets `values` below `classes`, creating their keys, and journals what
/// was there before. Registering again keeps the first journal: only a
/// value another program wrote since (a reinstall) is kept anew. Returns
/// S_OK, E_ACCESSDENIED or E_FAIL.
HRESULT ApplyRegistration(HKEY classes,
                          const std::vector<RegistrationValue>& values);

/// Undoes the registrations of the keys `keys` and of what lies below them:
/// every value this program set goes back to what it was (or goes, when
/// there was none), and every key it made goes when nothing else is left in
/// it. A value another program rewrote since is left as that program wrote
/// it, and the key is listed in `leftAlone`. The journal goes when nothing
/// is left in it. Returns S_OK, S_FALSE when nothing was registered there,
/// E_ACCESSDENIED or E_FAIL.
HRESULT UndoRegistration(HKEY classes, const std::vector<std::wstring>& keys,
                         std::vector<std::wstring>* leftAlone);

/// Whether the key `path` is free for a registration to fill: not there,
/// empty (made by a registration that stopped before marking it, or by
/// nobody), or marked as made by a registration.
bool FreeForRegistration(HKEY classes, const std::wstring& path);

/// Prints, one line each, the keys UndoRegistration left alone, naming the
/// view when it is not this program's own.
void ReportLeftAlone(const std::vector<std::wstring>& keys);

#endif  // ECUPROG_PLATFORM_WIN32_REGISTRATION_JOURNAL_H

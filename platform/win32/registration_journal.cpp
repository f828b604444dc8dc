#include "platform/win32/registration_journal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

// One journal per registry view. Windows shares most of the classes
// between its two views (only keys such as CLSID and Interface are kept
// apart), so the two journals need names of their own.
const wchar_t* JournalName() {
  return CurrentRegistryView() == RegistryView::k64
             ? L"ecuprog.RegistrationJournal"
             : L"ecuprog.RegistrationJournal32";
}
constexpr const wchar_t* kKeyPath = L"key";
constexpr const wchar_t* kState = L"state";
constexpr const wchar_t* kExisted = L"existed";
constexpr const wchar_t* kCreating = L"creating";
constexpr const wchar_t* kBefore = L"before";
constexpr const wchar_t* kWriting = L"writing";
constexpr const wchar_t* kWrote = L"wrote";
// In every key a registration made, from the moment it is made.
constexpr const wchar_t* kMadeHere = L"ecuprog.created";

// An entry of the journal.
struct Entry {
  std::wstring name;  // its subkey in the journal
  std::wstring key;   // the key it is about; empty when half made or removed
  bool done = false;
};

std::wstring ReadText(HKEY key, const wchar_t* name) {
  RegistryValue value;
  if (key == nullptr || !ReadValue(key, name, &value) || value.type != REG_SZ) {
    return L"";
  }
  std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), value.data.data(), text.size() * sizeof(wchar_t));
  return text.substr(0, text.find(L'\0'));
}

bool HasValue(HKEY key, const std::wstring& name) {
  RegistryValue value;
  return key != nullptr && ReadValue(key, name, &value);
}

// Whether `key` holds the value `name` exactly as `value`.
bool Holds(HKEY key, const std::wstring& name, const RegistryValue& value) {
  RegistryValue held;
  return key != nullptr && ReadValue(key, name, &held) && held == value;
}

bool IsEmpty(HKEY key) {
  return ValueNames(key).empty() && SubkeyNames(key).empty();
}

// Registry names do not tell capitals from small letters.
std::wstring Folded(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool SameKey(const std::wstring& a, const std::wstring& b) {
  return Folded(a) == Folded(b);
}

// Whether `path` lies below `above`.
bool Below(const std::wstring& path, const std::wstring& above) {
  return path.size() > above.size() && path[above.size()] == L'\\' &&
         SameKey(path.substr(0, above.size()), above);
}

std::vector<Entry> Entries(HKEY journal) {
  std::vector<Entry> entries;
  for (const std::wstring& name : SubkeyNames(journal)) {
    const RegistryKey record = OpenKey(journal, name);
    entries.push_back(Entry{name, ReadText(record.get(), kKeyPath)});
  }
  return entries;
}

// Removes an entry: first what names its key, so that a removal that stops
// half-way leaves an entry that is only dropped.
void Drop(HKEY journal, const std::wstring& name) {
  if (RegistryKey record = OpenKey(journal, name)) {
    if (HasValue(record.get(), kKeyPath)) DeleteValue(record.get(), kKeyPath);
  }
  DeleteTree(journal, name);
}

// The journal's subkeys are numbered in the order they are made, four
// digits, so that they list in that order.
std::wstring NextEntryName(const std::vector<Entry>& entries) {
  unsigned long next = 1;
  for (const Entry& entry : entries) {
    next = std::max(next, std::wcstoul(entry.name.c_str(), nullptr, 10) + 1);
  }
  std::wstring digits = std::to_wstring(next);
  return std::wstring(digits.size() < 4 ? 4 - digits.size() : 0, L'0') + digits;
}

// Creates `path`, marked as made here at once. A key another program made
// in the meantime stays unmarked, and so stays its own.
void MakeKey(HKEY classes, const std::wstring& path) {
  bool created = false;
  const RegistryKey key = CreateKey(classes, path, &created);
  if (created || IsEmpty(key.get())) {
    WriteValue(key.get(), kMadeHere, TextValue(L"ecuprog"));
  }
}

// Keeps the whole of `key` in the entry, and only then says so.
void Keep(HKEY record, HKEY key) {
  if (OpenKey(record, kBefore)) DeleteTree(record, kBefore);
  const RegistryKey before = CreateKey(record, kBefore);
  CopyTree(key, before.get());
  WriteValue(record, kState, TextValue(kExisted));
}

// Brings the entry of `path` to where its values can be set: the key kept
// when it existed, made and marked when it did not. A run that stopped
// half-way is finished here; a finished entry keeps what it kept first.
void Settle(HKEY classes, HKEY record, const std::wstring& path) {
  const std::wstring state = ReadText(record, kState);
  if (state == kExisted) return;
  const RegistryKey key = OpenKey(classes, path);
  if (state == kCreating) {
    if (!key) {
      MakeKey(classes, path);
    } else if (!HasValue(key.get(), kMadeHere)) {
      if (IsEmpty(key.get())) {
        WriteValue(key.get(), kMadeHere, TextValue(L"ecuprog"));
      } else {
        Keep(record, key.get());  // another program made it first
      }
    }
    return;
  }
  // Nothing was changed in the key yet.
  if (key) {
    Keep(record, key.get());
  } else {
    WriteValue(record, kState, TextValue(kCreating));
    MakeKey(classes, path);
  }
}

// The journal entry of `path`, made and settled, for each key on the way
// down to it: keys above it that exist get none, since nothing in them
// changes. Returns the entry of `path` itself. `entries` is the journal's
// list, kept as the journal changes: reading it again for every key on the
// way is most of what a registration would ask of the registry.
RegistryKey PrepareKey(HKEY classes, HKEY journal, const std::wstring& path,
                       std::vector<Entry>* entries) {
  size_t end = 0;
  for (;;) {
    end = path.find(L'\\', end + 1);
    const std::wstring prefix = path.substr(0, end);
    const bool target = end == std::wstring::npos;
    const bool exists = static_cast<bool>(OpenKey(classes, prefix));
    std::wstring name;
    for (const Entry& entry : *entries) {
      if (SameKey(entry.key, prefix)) name = entry.name;
    }
    RegistryKey record;
    if (!name.empty()) record = OpenKey(journal, name);
    // Removed by another program since it was journaled: journaled anew.
    if (record && !exists && HasValue(record.get(), kState)) {
      record = RegistryKey();
      Drop(journal, name);
      entries->erase(std::find_if(
          entries->begin(), entries->end(),
          [&name](const Entry& entry) { return entry.name == name; }));
    }
    if (!record && (target || !exists)) {
      const std::wstring made = NextEntryName(*entries);
      record = CreateKey(journal, made);
      entries->push_back(Entry{made, L""});
      WriteValue(record.get(), kKeyPath, TextValue(prefix));
      entries->back().key = prefix;
    }
    if (record) Settle(classes, record.get(), prefix);
    if (target) return record;
  }
}

RegistryKey Subkey(HKEY parent, const wchar_t* name) {
  RegistryKey key = OpenKey(parent, name);
  return key ? std::move(key) : CreateKey(parent, name);
}

// Sets one value, noting it first as being written and then as written, so
// that the undo knows it as this program's whichever step ran last.
void SetOwnValue(HKEY classes, HKEY record, const RegistrationValue& value) {
  const RegistryKey key = OpenKey(classes, value.key);
  if (!key) throw RegistryError{E_FAIL};
  const RegistryKey writing = Subkey(record, kWriting);
  const RegistryKey wrote = Subkey(record, kWrote);
  RegistryValue current;
  const bool has = ReadValue(key.get(), value.name, &current);
  const bool ours = has && (Holds(writing.get(), value.name, current) ||
                            Holds(wrote.get(), value.name, current));
  if (ours && current == value.value &&
      Holds(wrote.get(), value.name, value.value)) {
    return;
  }
  if (!ours) {
    // Kept already, unless another program wrote it since (a reinstall):
    // then what it wrote is what comes back.
    RegistryKey before = OpenKey(record, kBefore);
    RegistryValue kept;
    const bool hasKept = before && ReadValue(before.get(), value.name, &kept);
    if (has && (!hasKept || kept != current)) {
      if (!before) before = CreateKey(record, kBefore);
      WriteValue(before.get(), value.name, current);
    } else if (!has && hasKept) {
      DeleteValue(before.get(), value.name);
    }
  }
  WriteValue(writing.get(), value.name, value.value);
  WriteValue(key.get(), value.name, value.value);
  WriteValue(wrote.get(), value.name, value.value);
  DeleteValue(writing.get(), value.name);
}

struct PutBack {
  bool wrote = false;    // this program had set values in the key
  bool changed = false;  // another program rewrote one of them since
};

// Puts back the values this program set, where they still hold what it
// set, and forgets them. A value noted as written but found otherwise was
// rewritten by another program since; one only noted as being written may
// never have been written.
PutBack PutBackValues(HKEY record, HKEY key) {
  RegistryKey writing = OpenKey(record, kWriting);
  const RegistryKey wrote = OpenKey(record, kWrote);
  const RegistryKey before = OpenKey(record, kBefore);
  std::vector<std::wstring> names;
  if (writing) names = ValueNames(writing.get());
  if (wrote) {
    for (const std::wstring& name : ValueNames(wrote.get())) {
      if (std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(name);
      }
    }
  }
  PutBack result;
  for (const std::wstring& name : names) {
    result.wrote = true;
    RegistryValue current;
    RegistryValue kept;
    RegistryValue set;
    const bool has = key != nullptr && ReadValue(key, name, &current);
    const bool hasKept = before && ReadValue(before.get(), name, &kept);
    const bool written = wrote && ReadValue(wrote.get(), name, &set);
    const bool ours = has && ((written && current == set) ||
                              Holds(writing.get(), name, current));
    if (ours) {
      // Noted as being undone before it is: a stop in between leaves it
      // known as this program's, and one after it not taken for a rewrite.
      if (written) {
        if (!Holds(writing.get(), name, current)) {
          if (!writing) writing = CreateKey(record, kWriting);
          WriteValue(writing.get(), name, current);
        }
        DeleteValue(wrote.get(), name);
      }
      if (!hasKept) {
        DeleteValue(key, name);
      } else if (kept != current) {
        WriteValue(key, name, kept);
      }
    } else if (key != nullptr &&
               (written || has != hasKept || (has && current != kept))) {
      result.changed = true;
    }
    if (HasValue(writing.get(), name)) DeleteValue(writing.get(), name);
    if (HasValue(wrote.get(), name)) DeleteValue(wrote.get(), name);
  }
  return result;
}

// Undoes one entry; true when its key changed after the registration and
// was left as another program made it.
bool UndoEntry(HKEY classes, HKEY journal, const Entry& entry) {
  const RegistryKey record = OpenKey(journal, entry.name);
  if (!record) return false;
  const std::wstring state = ReadText(record.get(), kState);
  RegistryKey key = OpenKey(classes, entry.key);
  const PutBack values = PutBackValues(record.get(), key.get());
  if (!key) return values.wrote && state == kExisted;
  if (state == kExisted) {
    const RegistryKey before = OpenKey(record.get(), kBefore);
    return values.wrote &&
           (values.changed || !before || !SameTree(key.get(), before.get()));
  }
  if (state != kCreating) return false;  // nothing was changed in it
  if (!HasValue(key.get(), kMadeHere) && !IsEmpty(key.get())) {
    return values.changed;  // not this program's key
  }
  const std::vector<std::wstring> left = ValueNames(key.get());
  if (SubkeyNames(key.get()).empty() &&
      (left.empty() ||
       (left.size() == 1 && left.front() == std::wstring(kMadeHere)))) {
    key = RegistryKey();
    DeleteKey(classes, entry.key);
    return false;
  }
  // Other programs added their entries to a key this program made: it
  // stays theirs.
  DeleteValue(key.get(), kMadeHere);
  return values.wrote;
}

bool InScope(const std::wstring& path, const std::vector<std::wstring>& keys) {
  for (const std::wstring& key : keys) {
    if (SameKey(path, key) || Below(path, key) || Below(key, path)) return true;
  }
  return false;
}

// Whether an entry still to be undone lies below `path`.
bool PendingBelow(const std::wstring& path, const std::vector<Entry>& entries) {
  for (const Entry& entry : entries) {
    if (!entry.done && Below(entry.key, path)) return true;
  }
  return false;
}

}  // namespace

HRESULT ApplyRegistration(HKEY classes,
                          const std::vector<RegistrationValue>& values) {
  try {
    // The journal is there before anything else changes.
    const RegistryKey journal = Subkey(classes, JournalName());
    std::vector<Entry> entries = Entries(journal.get());
    for (const RegistrationValue& value : values) {
      const RegistryKey record =
          PrepareKey(classes, journal.get(), value.key, &entries);
      SetOwnValue(classes, record.get(), value);
    }
    return S_OK;
  } catch (const RegistryError& error) {
    return error.result;
  }
}

HRESULT UndoRegistration(HKEY classes, const std::vector<std::wstring>& keys,
                         std::vector<std::wstring>* leftAlone) {
  try {
    RegistryKey journal = OpenKey(classes, JournalName());
    if (!journal) return S_FALSE;
    std::vector<Entry> entries = Entries(journal.get());
    bool undone = false;
    // Last made first: keys below before the keys above them.
    for (size_t i = entries.size(); i-- > 0;) {
      Entry& entry = entries[i];
      if (!entry.key.empty()) {
        if (!InScope(entry.key, keys) || PendingBelow(entry.key, entries)) {
          continue;
        }
        if (UndoEntry(classes, journal.get(), entry) && leftAlone != nullptr) {
          leftAlone->push_back(entry.key);
        }
        undone = true;
      }
      Drop(journal.get(), entry.name);
      entry.done = true;
    }
    // The journal goes last, once nothing is left in it.
    if (IsEmpty(journal.get())) {
      journal = RegistryKey();
      DeleteKey(classes, JournalName());
    }
    return undone ? S_OK : S_FALSE;
  } catch (const RegistryError& error) {
    return error.result;
  }
}

bool FreeForRegistration(HKEY classes, const std::wstring& path) {
  try {
    const RegistryKey key = OpenKey(classes, path);
    return !key || IsEmpty(key.get()) || HasValue(key.get(), kMadeHere);
  } catch (const RegistryError&) {
    return false;
  }
}

void ReportLeftAlone(const std::vector<std::wstring>& keys) {
  // Keys of the other view's classes say so: the same key is another one
  // there.
  const char* view = "";
  if (CurrentRegistryView() != OwnRegistryView()) {
    view = CurrentRegistryView() == RegistryView::k64
               ? " (for 64-bit programs)"
               : " (for 32-bit programs)";
  }
  for (const std::wstring& key : keys) {
    std::string narrow;
    for (wchar_t c : key) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    std::printf(
        "%s%s changed after the simulator was registered (the device maker's "
        "server reinstalled?): left as it is, only the simulator's own "
        "entries removed\n",
        narrow.c_str(), view);
  }
}

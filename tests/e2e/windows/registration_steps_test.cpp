// Registering and unregistering the simulator, stopped after every single
// change to the registry as a killed process or a power cut would stop it:
// whatever step it stopped at, the next unregistering (or registering, then
// unregistering) leaves the classes exactly as they were, the device
// maker's entries with every value, type and subkey included. Then the same
// calls repeated, and a reinstall of the maker's server in between.
//
//   registration_steps_test SIMULATOR [--both-views]
//
// SIMULATOR is ecuprog-sim.exe, with its marshalling DLL beside it. With
// --both-views it lies in a kit that holds the other bitness's DLL too
// (x86\, x64\): the registration then writes both registry views, the
// maker is installed in both, and both are compared. Runs in a Wine prefix
// of its own: it writes where the simulator registers.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/com_registration.h"
#include "platform/win32/classes_root.h"
#include "platform/win32/idl/proxy_clsid.h"
#include "platform/win32/registry_key.h"
#include "server/server_interfaces.h"
#include "sim/server_host.h"

namespace {

std::wstring Text(REFGUID id) {
  wchar_t text[40] = {};
  StringFromGUID2(id, text, 40);
  return text;
}

const std::wstring kServer = L"CLSID\\" + Text(CLSID_ProgrammingServer);
const std::wstring kLocalServer = kServer + L"\\LocalServer32";
const std::wstring kProxy = std::wstring(L"CLSID\\") + ECUPROG_PROXY_CLSID_TEXT;
const std::wstring kInterfaces[] = {
    L"Interface\\" + Text(IID_ProgrammingServer),
    L"Interface\\" + Text(IID_DeviceInterface),
    L"Interface\\" + Text(IID_ProgrammingInterface)};

// The registry views the test looks at, each with its classes root; the
// functions below work in `classes`, the current view's (ForEachView).
struct View {
  RegistryView view;
  HKEY classes;
  std::wstring journal;
};
std::vector<View> views;
HKEY classes = nullptr;
std::wstring kJournal;
std::string simulator;

template <typename Step>
void ForEachView(const Step& step) {
  for (const View& view : views) {
    const RegistryViewScope scope(view.view);
    classes = view.classes;
    kJournal = view.journal;
    step(view);
  }
  classes = views.front().classes;
  kJournal = views.front().journal;
}

[[noreturn]] void Fail(const std::string& what) {
  std::printf("FAILED: %s\n", what.c_str());
  std::exit(1);
}

// Stopping after a number of changes.
struct Stopped {};
int changesLeft = -1;  // none: no stop
int changesMade = 0;

void CountChange() {
  ++changesMade;
  if (changesLeft >= 0 && changesLeft-- == 0) throw Stopped{};
}

// Runs `step`, stopped before the change after `changes` ones (never when
// negative); true when it ran to its end.
bool RunStopped(const std::function<void()>& step, int changes) {
  changesLeft = changes;
  bool finished = true;
  try {
    step();
  } catch (const Stopped&) {
    finished = false;
  }
  changesLeft = -1;
  return finished;
}

// What ecuprog-sim --register and --unregister call, in their order.
void Register() {
  const std::string command = "\"" + simulator + "\"";
  if (FAILED(RegisterInterfaceMarshalling(simulator)) ||
      FAILED(RegisterLocalServer(CLSID_ProgrammingServer, command.c_str()))) {
    Fail("registering failed");
  }
}

HRESULT Unregister() {
  const HRESULT server = UnregisterLocalServer(CLSID_ProgrammingServer);
  const HRESULT marshalling = UnregisterInterfaceMarshalling();
  if (FAILED(server) || FAILED(marshalling)) Fail("unregistering failed");
  return server == S_FALSE && marshalling == S_FALSE ? S_FALSE : S_OK;
}

RegistryValue Expandable(const std::wstring& text) {
  RegistryValue value = TextValue(text);
  value.type = REG_EXPAND_SZ;
  return value;
}

void Set(const std::wstring& key, const std::wstring& name,
         const RegistryValue& value) {
  const RegistryKey handle = CreateKey(classes, key);
  WriteValue(handle.get(), name, value);
}

// A device maker's installation: a local server whose command is expanded,
// its ProgID, AppID, threading model and type library, and marshalling for
// two of the three interfaces (the third is one it does not register).
void InstallMakerInView(const std::wstring& version);
void InstallMaker(const std::wstring& version) {
  ForEachView([&](const View&) { InstallMakerInView(version); });
}
void InstallMakerInView(const std::wstring& version) {
  const std::wstring typelib = L"{5C1E0E4D-9E2B-4D5A-8C71-2F0B4E6A9D10}";
  Set(kServer, L"", TextValue(L"Maker programming server"));
  Set(kServer, L"AppID", TextValue(L"{0B7D6A52-3F44-4B8E-9A1C-7E2D5F8C6B31}"));
  Set(kLocalServer, L"",
      Expandable(L"%ProgramFiles%\\Maker\\" + version + L"\\server.exe"));
  Set(kLocalServer, L"ThreadingModel", TextValue(L"Apartment"));
  RegistryValue flags;
  flags.type = REG_DWORD;
  flags.data = {1, 0, 0, 0};
  Set(kLocalServer, L"ServerFlags", flags);
  Set(kServer + L"\\ProgID", L"", TextValue(L"Maker.ProgrammingServer.1"));
  Set(kServer + L"\\TypeLib", L"", TextValue(typelib));
  for (int i = 0; i < 2; ++i) {
    Set(kInterfaces[i], L"", TextValue(L"IMaker" + std::to_wstring(i)));
    Set(kInterfaces[i] + L"\\ProxyStubClsid32", L"",
        TextValue(L"{00020424-0000-0000-C000-000000000046}"));
    Set(kInterfaces[i] + L"\\TypeLib", L"", TextValue(typelib));
    Set(kInterfaces[i] + L"\\TypeLib", L"Version", TextValue(L"1.0"));
  }
}

void RemoveAll() {
  ForEachView([](const View&) {
    for (const std::wstring& key : {kServer, kProxy, kJournal}) {
      DeleteTree(classes, key);
    }
    for (const std::wstring& key : kInterfaces) DeleteTree(classes, key);
  });
}

void Dump(HKEY parent, const std::wstring& path, std::wstring* out) {
  const RegistryKey key = OpenKey(parent, path);
  if (!key) return;
  *out += L"[" + path + L"]\n";
  for (const std::wstring& name : ValueNames(key.get())) {
    RegistryValue value;
    ReadValue(key.get(), name, &value);
    *out += L"\"" + name + L"\" " + std::to_wstring(value.type) + L":";
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
      *out += std::wstring(reinterpret_cast<const wchar_t*>(value.data.data()),
                           value.data.size() / sizeof(wchar_t) - 1);
    } else {
      for (BYTE byte : value.data) *out += std::to_wstring(byte) + L",";
    }
    *out += L"\n";
  }
  for (const std::wstring& name : SubkeyNames(key.get())) {
    Dump(parent, path + L"\\" + name, out);
  }
}

// The keys a registration touches; with the journal, or without it (what
// COM sees).
std::wstring Snapshot(bool withJournal = true) {
  std::wstring out;
  ForEachView([&](const View& view) {
    out += view.view == RegistryView::k64 ? L"--- 64-bit\n" : L"--- 32-bit\n";
    for (const std::wstring& key : {kServer, kProxy}) Dump(classes, key, &out);
    for (const std::wstring& key : kInterfaces) Dump(classes, key, &out);
    if (withJournal) Dump(classes, kJournal, &out);
  });
  return out;
}

void Expect(const std::wstring& before, const std::wstring& after,
            const std::string& what) {
  if (before == after) return;
  std::fwprintf(stdout, L"--- expected\n%ls--- found\n%ls", before.c_str(),
                after.c_str());
  Fail(what);
}

std::wstring registered;  // the classes after a whole --register

void ExpectRegistered() {
  Expect(registered, Snapshot(false), "not registered as a whole run does");
}

// A --register or an --unregister stopped part-way, then perhaps a whole
// --register, then --unregister.
struct Sequence {
  const char* name;
  bool stopUnregister;  // the stopped one is --unregister, after --register
  bool registerAgain;
};

const Sequence kSequences[] = {
    {"--register stopped, --unregister", false, false},
    {"--unregister stopped, --unregister", true, false},
    {"--register stopped, --register, --unregister", false, true},
    {"--unregister stopped, --register, --unregister", true, true},
};

// Runs `sequence`, its stopped step stopped after `changes` changes; true
// when that step ran to its end.
bool Run(const Sequence& sequence, int changes) {
  if (sequence.stopUnregister) Register();
  const bool finished = sequence.stopUnregister
                            ? RunStopped([] { Unregister(); }, changes)
                            : RunStopped(Register, changes);
  if (sequence.registerAgain) {
    Register();
    ExpectRegistered();
  }
  Unregister();
  return finished;
}

// Every sequence, stopped after each number of changes in turn, from the
// classes `start` makes.
void EveryStep(const char* startName, void (*start)()) {
  RemoveAll();
  start();
  const std::wstring before = Snapshot();
  Register();
  registered = Snapshot(false);
  Unregister();
  Expect(before, Snapshot(), "a whole --register, --unregister");
  for (const Sequence& sequence : kSequences) {
    int changes = 0;
    for (;; ++changes) {
      const bool finished = Run(sequence, changes);
      Expect(before, Snapshot(),
             std::string(startName) + ", " + sequence.name + " after " +
                 std::to_string(changes) + " changes");
      if (finished) break;
    }
    std::printf("ok: %s, %s, stopped after each of %d changes\n", startName,
                sequence.name, changes);
  }
}

void Repeated() {
  RemoveAll();
  InstallMaker(L"1.0");
  const std::wstring before = Snapshot();
  Register();
  const std::wstring first = Snapshot();
  changesMade = 0;
  Register();
  if (changesMade != 0) Fail("a second --register changed the registry");
  Expect(first, Snapshot(), "a second --register");
  Unregister();
  Expect(before, Snapshot(), "--register twice, --unregister");
  changesMade = 0;
  if (Unregister() != S_FALSE || changesMade != 0) {
    Fail("a second --unregister changed the registry");
  }
  std::printf("ok: --register twice, --unregister twice\n");
}

// The maker's server installed again while the simulator is registered:
// over its old entries, or after its uninstaller removed them.
void Reinstalled(const char* how, bool uninstalled) {
  RemoveAll();
  InstallMaker(L"1.0");
  InstallMaker(L"2.0");
  const std::wstring expected = Snapshot();
  RemoveAll();
  InstallMaker(L"1.0");
  Register();
  if (uninstalled) {
    ForEachView([](const View&) {
      DeleteTree(classes, kServer);
      for (int i = 0; i < 2; ++i) DeleteTree(classes, kInterfaces[i]);
    });
  }
  InstallMaker(L"2.0");
  Unregister();
  Expect(expected, Snapshot(), how);
  std::printf("ok: %s\n", how);
}

// What the simulator's earlier version wrote: each default value it
// replaced kept beside its mark (when REG_SZ), the interfaces it registered
// made whole, and its marshalling class.
void RegisterAsEarlier() {
  const auto replace = [](const std::wstring& path, const std::wstring& value) {
    const RegistryKey key = CreateKey(classes, path);
    RegistryValue replaced;
    if (ReadValue(key.get(), L"", &replaced) && replaced.type == REG_SZ) {
      WriteValue(key.get(), L"ecuprog.replaced", replaced);
    }
    WriteValue(key.get(), L"ecuprog.registered", TextValue(L"simulator"));
    WriteValue(key.get(), L"", TextValue(value));
  };
  const std::wstring server = kProxy + L"\\InprocServer32";
  Set(kProxy, L"", TextValue(L"ecuprog simulator marshalling"));
  Set(server, L"", TextValue(L"C:\\old\\ecuprog-sim-ps.dll"));
  Set(server, L"ThreadingModel", TextValue(L"Both"));
  for (const std::wstring& key : kInterfaces) {
    if (!OpenKey(classes, key)) {
      Set(key, L"", TextValue(L"ProgrammingInterface"));
      Set(key, L"ecuprog.made", TextValue(L"simulator"));
      Set(key + L"\\NumMethods", L"", TextValue(L"9"));
    }
    replace(key + L"\\ProxyStubClsid32", ECUPROG_PROXY_CLSID_TEXT);
  }
  replace(kLocalServer, L"\"C:\\old\\ecuprog-sim.exe\"");
}

// An earlier version's registration goes with --unregister, alone or under
// a registration of this version.
void Earlier(const char* startName, void (*start)()) {
  RemoveAll();
  start();
  const std::wstring before = Snapshot();
  RegisterAsEarlier();
  Unregister();
  Expect(before, Snapshot(), std::string(startName) + ", earlier version");
  RegisterAsEarlier();
  Register();
  Unregister();
  Expect(before, Snapshot(),
         std::string(startName) + ", earlier version, then this one");
  std::printf("ok: %s, an earlier version's registration taken back\n",
              startName);
}

}  // namespace

int main(int argc, char** argv) {
  const bool bothViews = argc == 3 && std::string(argv[2]) == "--both-views";
  if (argc != 2 && !bothViews) {
    std::fputs("usage: registration_steps_test SIMULATOR [--both-views]\n",
               stderr);
    return 2;
  }
  simulator = argv[1];
  std::vector<RegistryView> wanted = {OwnRegistryView()};
  if (bothViews) {
    if (!OtherRegistryViewExists()) Fail("this Windows has one view only");
    wanted.push_back(OtherRegistryView());
  }
  for (RegistryView view : wanted) {
    const RegistryViewScope scope(view);
    HKEY root = OpenClassesRoot();
    if (root == nullptr) Fail("no classes root");
    views.push_back({view, root,
                     view == RegistryView::k64
                         ? L"ecuprog.RegistrationJournal"
                         : L"ecuprog.RegistrationJournal32"});
  }
  classes = views.front().classes;
  kJournal = views.front().journal;
  try {
    SetRegistryChangeHook(CountChange);
    // Across both views every step is twice the work: the maker's case
    // alone there, the one with the most to keep.
    if (!bothViews) EveryStep("no maker", [] {});
    EveryStep("maker", [] { InstallMaker(L"1.0"); });
    Repeated();
    Reinstalled("reinstalled over the registration", false);
    Reinstalled("uninstalled and installed anew", true);
    Earlier("no maker", [] {});
    // A command the earlier version could keep: it kept REG_SZ only.
    Earlier("maker", [] {
      InstallMaker(L"1.0");
      Set(kLocalServer, L"", TextValue(L"C:\\Maker\\server.exe"));
    });
    RemoveAll();
  } catch (const RegistryError& error) {
    Fail("registry error " + std::to_string(error.result));
  }
  return 0;
}

// The server executable on Windows: its interfaces are marshalled by the
// proxy DLL built beside it, registered per user where COM reads the user's
// classes (platform/win32/classes_root.h). The device maker's server
// installs its own marshalling for the same interfaces machine-wide; ours
// shadows it only while the simulator is registered, and the tool itself
// links no marshalling code, so against that server it uses that server's.
#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/system_text.h"
#include "platform/win32/classes_root.h"
#include "platform/win32/earlier_registration.h"
#include "platform/win32/idl/proxy_clsid.h"
#include "platform/win32/registration_journal.h"
#include "platform/win32/wide_path.h"
#include "server/server_interfaces.h"
#include "sim/server_host.h"

namespace {

struct MarshalledInterface {
  const IID* iid;
  const wchar_t* name;
  const wchar_t* methods;
};

const MarshalledInterface kInterfaces[] = {
    {&IID_ProgrammingServer, L"ProgrammingServer", L"16"},
    {&IID_DeviceInterface, L"DeviceInterface", L"32"},
    {&IID_ProgrammingInterface, L"ProgrammingInterface", L"9"},
    {&IID_SimulatedServer, L"SimulatedServer", L"4"},
};

const std::wstring kProxyClass =
    std::wstring(L"CLSID\\") + ECUPROG_PROXY_CLSID_TEXT;

std::wstring InterfaceKey(const IID& iid) {
  wchar_t text[40] = {};
  StringFromGUID2(iid, text, 40);
  return std::wstring(L"Interface\\") + text;
}

// Adds the result of one more step to the undo's: a failure stays, and
// anything undone makes it S_OK.
void Merge(HRESULT step, HRESULT* result) {
  if (FAILED(*result)) return;
  if (FAILED(step) || step == S_OK) *result = step;
}

// Takes back what an earlier version registered (earlier_registration.h).
// The marshalling class is the simulator's own: whatever is left of it
// after the undo is such a registration.
void UndoEarlierMarshalling(HKEY classes, HRESULT* result) {
  for (const MarshalledInterface& entry : kInterfaces) {
    const std::wstring key = InterfaceKey(*entry.iid);
    Merge(UndoEarlierDefault(classes, key + L"\\ProxyStubClsid32"), result);
    Merge(UndoEarlierInterface(classes, key), result);
  }
  try {
    if (OpenKey(classes, kProxyClass)) {
      DeleteTree(classes, kProxyClass);
      Merge(S_OK, result);
    }
  } catch (const RegistryError& error) {
    Merge(error.result, result);
  }
}

}  // namespace

std::string OwnExecutablePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0) return "";
    if (length < path.size())
      return Utf8Text(std::wstring(path.data(), length));
    path.resize(path.size() * 2);
  }
}

// A program without a console, started by COM with no standard handles.
bool ServerErrorOutputIsSeen() { return false; }

namespace {

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Folded(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The folder names of the kit: the programs of each bitness in their own.
const wchar_t* KitFolder(RegistryView view) {
  return view == RegistryView::k64 ? L"x64" : L"x86";
}

// The marshalling DLL of the other bitness where the kit has it: the
// server in <kit>\x64\ finds it in <kit>\x86\ and the other way round.
// Empty elsewhere (a build tree).
std::wstring OtherBitnessDll(const std::wstring& folder) {
  const size_t end = folder.find_last_not_of(L"\\/");
  if (end == std::wstring::npos) return L"";
  const size_t slash = folder.find_last_of(L"\\/", end);
  if (slash == std::wstring::npos) return L"";
  const std::wstring name = folder.substr(slash + 1, end - slash);
  if (Folded(name) != KitFolder(OwnRegistryView())) return L"";
  const std::wstring dll = folder.substr(0, slash + 1) +
                           KitFolder(OtherRegistryView()) + L"\\" +
                           ECUPROG_PROXY_DLL_NAME;
  return Exists(dll) ? dll : L"";
}

HRESULT RegisterMarshallingDll(const std::wstring& dll) {
  HKEY classes = OpenClassesRoot();
  if (classes == nullptr) return E_ACCESSDENIED;
  const std::wstring server = kProxyClass + L"\\InprocServer32";
  std::vector<RegistrationValue> values = {
      {kProxyClass, L"", TextValue(L"ecuprog simulator marshalling")},
      {server, L"", TextValue(dll)},
      {server, L"ThreadingModel", TextValue(L"Both")}};
  // An interface another program registered keeps its entry; only its
  // marshalling is replaced, and put back on unregistering.
  for (const MarshalledInterface& entry : kInterfaces) {
    const std::wstring key = InterfaceKey(*entry.iid);
    if (FreeForRegistration(classes, key)) {
      values.push_back({key, L"", TextValue(entry.name)});
      values.push_back({key + L"\\NumMethods", L"", TextValue(entry.methods)});
    }
    values.push_back({key + L"\\ProxyStubClsid32", L"",
                      TextValue(ECUPROG_PROXY_CLSID_TEXT)});
  }
  const HRESULT result = ApplyRegistration(classes, values);
  RegCloseKey(classes);
  return result;
}

HRESULT UnregisterMarshallingDll() {
  HKEY classes = OpenClassesRoot();
  if (classes == nullptr) return E_ACCESSDENIED;
  std::vector<std::wstring> keys = {kProxyClass};
  for (const MarshalledInterface& entry : kInterfaces) {
    keys.push_back(InterfaceKey(*entry.iid));
  }
  std::vector<std::wstring> leftAlone;
  HRESULT result = UndoRegistration(classes, keys, &leftAlone);
  if (SUCCEEDED(result)) UndoEarlierMarshalling(classes, &result);
  RegCloseKey(classes);
  ReportLeftAlone(leftAlone);
  return result;
}

}  // namespace

HRESULT RegisterInterfaceMarshalling(const std::string& serverPath,
                                     std::string* otherBitness) {
  const std::wstring server = WidePath(serverPath);
  const size_t slash = server.find_last_of(L"\\/");
  const std::wstring folder =
      slash == std::wstring::npos ? L"" : server.substr(0, slash);
  const std::wstring dll =
      (folder.empty() ? L"" : folder + L"\\") + ECUPROG_PROXY_DLL_NAME;
  if (!Exists(dll)) {
    WriteText(stderr, Utf8Text(dll) + " is missing\n");
    return E_FAIL;
  }
  HRESULT result = RegisterMarshallingDll(dll);
  if (FAILED(result) || !OtherRegistryViewExists()) return result;
  // As a maker who ships both does: programs of the other bitness reach the
  // server through the marshalling built for them.
  const std::wstring other = OtherBitnessDll(folder);
  if (other.empty()) return result;
  RegistryViewScope view(OtherRegistryView());
  result = RegisterMarshallingDll(other);
  if (SUCCEEDED(result) && otherBitness != nullptr)
    *otherBitness = Utf8Text(other);
  return result;
}

HRESULT UnregisterInterfaceMarshalling() {
  HRESULT result = UnregisterMarshallingDll();
  if (FAILED(result) || !OtherRegistryViewExists()) return result;
  // Whichever bitness registered it there: a server of either bitness takes
  // back the kit's whole registration.
  RegistryViewScope view(OtherRegistryView());
  const HRESULT other = UnregisterMarshallingDll();
  if (FAILED(other) || other == S_OK) result = other;
  return result;
}

// The server executable on Windows: its interfaces are marshalled by the
// proxy DLL built beside it, registered per user where COM reads the user's
// classes (platform/win32/classes_root.h). The device maker's server
// installs its own marshalling for the same interfaces machine-wide; ours
// shadows it only while the simulator is registered, and the tool itself
// links no marshalling code, so against that server it uses that server's.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/classes_root.h"
#include "platform/win32/idl/proxy_clsid.h"
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
};

const std::wstring kProxyClass =
    std::wstring(L"CLSID\\") + ECUPROG_PROXY_CLSID_TEXT;

std::wstring InterfaceKey(const IID& iid) {
  wchar_t text[40] = {};
  StringFromGUID2(iid, text, 40);
  return std::wstring(L"Interface\\") + text;
}

std::string Narrow(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr,
                                         0, nullptr, nullptr);
  if (length <= 0) return "";
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), length,
                      nullptr, nullptr);
  narrow.resize(static_cast<size_t>(length - 1));
  return narrow;
}

// Sets the named value (the key's default when `name` is null), creating
// the key.
bool SetText(HKEY classes, const std::wstring& key, const wchar_t* name,
             const std::wstring& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(classes, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status = RegSetValueExW(
      handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

// Removes `key` when present; a missing key is no failure.
bool DeleteTree(HKEY classes, const std::wstring& key) {
  const LONG status = RegDeleteTreeW(classes, key.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// Marks an interface entry this program made whole.
constexpr const wchar_t* kMadeHere = L"ecuprog.made";

bool KeyExists(HKEY classes, const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(classes, key.c_str(), 0, KEY_READ, &handle) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

bool MadeHere(HKEY classes, const std::wstring& key) {
  return RegGetValueW(classes, key.c_str(), kMadeHere, RRF_RT_REG_SZ, nullptr,
                      nullptr, nullptr) == ERROR_SUCCESS;
}

}  // namespace

std::string OwnExecutablePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0) return "";
    if (length < path.size()) return Narrow(std::wstring(path.data(), length));
    path.resize(path.size() * 2);
  }
}

HRESULT RegisterInterfaceMarshalling(const std::string& serverPath) {
  std::wstring dll = WidePath(serverPath);
  const size_t slash = dll.find_last_of(L"\\/");
  dll = (slash == std::wstring::npos ? L"" : dll.substr(0, slash + 1)) +
        ECUPROG_PROXY_DLL_NAME;
  if (GetFileAttributesW(dll.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::fprintf(stderr, "%s is missing\n", Narrow(dll).c_str());
    return E_FAIL;
  }
  HKEY classes = OpenClassesRoot();
  if (classes == nullptr) return E_ACCESSDENIED;
  const std::wstring server = kProxyClass + L"\\InprocServer32";
  bool written = SetText(classes, kProxyClass, nullptr,
                         L"ecuprog simulator marshalling") &&
                 SetText(classes, server, nullptr, dll) &&
                 SetText(classes, server, L"ThreadingModel", L"Both");
  // An interface another program registered keeps its entry; only its
  // marshalling is replaced, and put back on unregistering.
  for (const MarshalledInterface& entry : kInterfaces) {
    const std::wstring key = InterfaceKey(*entry.iid);
    if (written && !KeyExists(classes, key)) {
      written = SetText(classes, key, nullptr, entry.name) &&
                SetText(classes, key, kMadeHere, L"simulator") &&
                SetText(classes, key + L"\\NumMethods", nullptr, entry.methods);
    }
    written = written && SUCCEEDED(ReplaceDefault(
                             classes, (key + L"\\ProxyStubClsid32").c_str(),
                             ECUPROG_PROXY_CLSID_TEXT));
  }
  RegCloseKey(classes);
  return written ? S_OK : E_ACCESSDENIED;
}

HRESULT UnregisterInterfaceMarshalling() {
  HKEY classes = OpenClassesRoot();
  if (classes == nullptr) return E_ACCESSDENIED;
  bool removed = true;
  for (const MarshalledInterface& entry : kInterfaces) {
    const std::wstring key = InterfaceKey(*entry.iid);
    const HRESULT restored =
        RestoreDefault(classes, (key + L"\\ProxyStubClsid32").c_str());
    if (FAILED(restored)) removed = false;
    // The whole entry goes only when this program made it.
    if (restored == S_OK && MadeHere(classes, key)) {
      removed = DeleteTree(classes, key) && removed;
    }
  }
  removed = DeleteTree(classes, kProxyClass) && removed;
  RegCloseKey(classes);
  return removed ? S_OK : E_ACCESSDENIED;
}

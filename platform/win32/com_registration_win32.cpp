// Local server registrations on Windows, per user where COM reads the
// user's classes (see classes_root.h): a registration then shadows the
// device maker's server, installed machine-wide, only while it exists.
// It is made in both registry views: a 32-bit program is given a server
// registered among the 32-bit classes before one registered for 64-bit
// programs only, whoever registered either. Wherever it replaces another
// program's entry, what it replaced is kept and put back when it is
// removed (registration_journal.h).
#include <string>

#include "platform/com_registration.h"
#include "platform/win32/classes_root.h"
#include "platform/win32/earlier_registration.h"
#include "platform/win32/registration_journal.h"
#include "platform/win32/registry_key.h"

namespace {

std::wstring ServerKey(REFCLSID clsid) {
  wchar_t text[40] = {};
  StringFromGUID2(clsid, text, 40);
  return std::wstring(L"CLSID\\") + text + L"\\LocalServer32";
}

std::wstring Widen(const char* text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 0) return L"";
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// The registration in the current view.
HRESULT RegisterInView(REFCLSID clsid, const std::wstring& command) {
  HKEY classes = OpenClassesRoot();
  if (classes == nullptr) return E_ACCESSDENIED;
  const HRESULT result =
      ApplyRegistration(classes, {{ServerKey(clsid), L"", TextValue(command)}});
  RegCloseKey(classes);
  return result;
}

HRESULT UnregisterInView(REFCLSID clsid) {
  HKEY classes = OpenClassesRoot();
  if (classes == nullptr) return E_ACCESSDENIED;
  std::vector<std::wstring> leftAlone;
  HRESULT result = UndoRegistration(classes, {ServerKey(clsid)}, &leftAlone);
  if (SUCCEEDED(result)) {
    const HRESULT earlier = UndoEarlierDefault(classes, ServerKey(clsid));
    result = FAILED(earlier) || earlier == S_OK ? earlier : result;
  }
  RegCloseKey(classes);
  ReportLeftAlone(leftAlone);
  return result;
}

}  // namespace

HRESULT RegisterLocalServer(REFCLSID clsid, const char* command) {
  if (command == nullptr || command[0] == '\0') return E_INVALIDARG;
  const std::wstring value = Widen(command);
  if (value.empty()) return E_INVALIDARG;
  HRESULT result = RegisterInView(clsid, value);
  if (FAILED(result) || !OtherRegistryViewExists()) return result;
  {
    RegistryViewScope view(OtherRegistryView());
    result = RegisterInView(clsid, value);
  }
  // Half a registration would send programs of one bitness elsewhere.
  if (FAILED(result)) UnregisterLocalServer(clsid);
  return result;
}

HRESULT UnregisterLocalServer(REFCLSID clsid) {
  HRESULT result = UnregisterInView(clsid);
  if (!OtherRegistryViewExists()) return result;
  // Also where a server of the other bitness registered it.
  RegistryViewScope view(OtherRegistryView());
  const HRESULT other = UnregisterInView(clsid);
  if (FAILED(result)) return result;
  return FAILED(other) || other == S_OK ? other : result;
}

bool ComReadsOwnRegistrations(std::string* why) {
  // The machine's classes are read by every process (Wine reads only
  // those, and registrations go there).
  if (!ClassesRootIsUsers()) return true;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool elevated = GetTokenInformation(token, TokenElevation, &elevation,
                                            sizeof elevation, &size) &&
                        elevation.TokenIsElevated != 0;
  CloseHandle(token);
  if (!elevated) return true;
  // User Account Control is off where EnableLUA is 0; it is on where the
  // value is missing.
  DWORD lua = 1;
  DWORD luaSize = sizeof lua;
  if (RegGetValueW(HKEY_LOCAL_MACHINE,
                   L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\"
                   L"System",
                   L"EnableLUA", RRF_RT_REG_DWORD, nullptr, &lua,
                   &luaSize) != ERROR_SUCCESS ||
      lua != 0) {
    return true;
  }
  if (why != nullptr) {
    *why =
        "this program runs with administrator rights while User Account "
        "Control is off, and then COM ignores registrations made for one "
        "user: programs would be given the machine's programming server";
  }
  return false;
}

std::vector<ClientKind> ClientKinds() {
  // A 32-bit Windows runs 32-bit programs only.
  if (!OtherRegistryViewExists()) {
    return {{"32-bit programs", CLSCTX_ACTIVATE_32_BIT_SERVER}};
  }
  return {{"32-bit programs", CLSCTX_ACTIVATE_32_BIT_SERVER},
          {"64-bit programs", CLSCTX_ACTIVATE_64_BIT_SERVER}};
}

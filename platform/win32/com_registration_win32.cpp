// Local server registrations on Windows, per user where COM reads the
// user's classes (see classes_root.h): a registration then shadows the
// device maker's server, installed machine-wide, only while it exists.
// Wherever it replaces another program's entry, what it replaced is kept
// and put back when it is removed (registration_journal.h).
#include <string>

#include "platform/com_registration.h"
#include "platform/win32/classes_root.h"
#include "platform/win32/earlier_registration.h"
#include "platform/win32/registration_journal.h"

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

}  // namespace

HRESULT RegisterLocalServer(REFCLSID clsid, const char* command) {
  if (command == nullptr || command[0] == '\0') return E_INVALIDARG;
  const std::wstring value = Widen(command);
  if (value.empty()) return E_INVALIDARG;
  HKEY classes = OpenClassesRoot();
  if (classes == nullptr) return E_ACCESSDENIED;
  const HRESULT result =
      ApplyRegistration(classes, {{ServerKey(clsid), L"", TextValue(value)}});
  RegCloseKey(classes);
  return result;
}

HRESULT UnregisterLocalServer(REFCLSID clsid) {
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

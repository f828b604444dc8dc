// What the test local server does with each call, shared by the server and
// the tests that call it. It echoes what reaches it: every call that takes
// arguments records them, and DetectDevices hands back the last record.
#ifndef ECUPROG_TESTS_PLATFORM_ECHO_SERVER_H
#define ECUPROG_TESTS_PLATFORM_ECHO_SERVER_H

#include <cstdint>

#include "server/server_interfaces.h"

namespace echo_server {

// {3D0F5E84-0C2B-4E55-A7D1-6E2C9B1F7A10}
inline const CLSID kClass = {0x3d0f5e84,
                             0x0c2b,
                             0x4e55,
                             {0xa7, 0xd1, 0x6e, 0x2c, 0x9b, 0x1f, 0x7a, 0x10}};

/// GetVersion: major is the number of the server's live objects, minor this.
constexpr USHORT kMinorVersion = 42;

/// GetIdentities(vartype, count, lowerBound, shape, result) makes an array
/// of that type and length filled by Pattern; shape kNullArray gives none.
constexpr LONG kNullArray = 1;

/// Element byte i of every array the server makes.
inline BYTE Pattern(size_t i) { return static_cast<BYTE>(i * 7 + 1); }

/// GetAccessName's answers by level: none, empty, non-ASCII, and one that
/// comes with a failure.
constexpr USHORT kNullName = 0;
constexpr USHORT kEmptyName = 1;
constexpr USHORT kWideName = 2;
constexpr USHORT kFailedName = 3;
inline const char16_t* WideName() { return u"Zugang \u00fc\u4e2d\U0001F600"; }

/// OpenDevice addresses: no unit (empty output, S_OK), a refusal (empty
/// output, E_FAIL), and the server dying in the middle of the call.
constexpr ULONG kNoUnit = 0;
constexpr ULONG kRefusedUnit = 0xBAD;
constexpr ULONG kDyingUnit = 0xDEAD;

/// Identity 0 gets no programming interface.
constexpr USHORT kNoIdentity = 0;

/// AcquireGroup's ticket: the group identifier's bytes XOR this.
constexpr BYTE kTicketMask = 0x5A;

/// ResetDevice's answer: a success code that is not S_OK, and a status.
constexpr HRESULT kResetResult = 0x00040001;
constexpr USHORT kResetStatus = 0xBEEF;

}  // namespace echo_server

#endif  // ECUPROG_TESTS_PLATFORM_ECHO_SERVER_H

// The programming server's interfaces, as the tool calls them.
//
// Declared once and used three ways: the tool calls through them, the
// simulated server implements them, and tests call the simulator through
// them in process. Every operation sits at the position it has in the
// server's function table (0 to 2 are IUnknown); the positions the tool
// never calls are kept by Unused entries so that on Windows the tables match
// the device maker's server.
#ifndef ECUPROG_SERVER_SERVER_INTERFACES_H
#define ECUPROG_SERVER_SERVER_INTERFACES_H

#include "platform/windows_api.h"

struct DeviceInterface;
struct ProgrammingInterface;

// The unit address parts that follow unitAddressA: the record bytes 4 to 9,
// in record order, passed to OpenDevice as one 6-byte value.
#pragma pack(push, 2)
struct UnitAddressTail {
  ULONG unitAddressB;
  USHORT unitAddressC;
};
#pragma pack(pop)
static_assert(sizeof(UnitAddressTail) == 6, "OpenDevice takes six bytes");

// The 16 bytes of room AcquireGroup writes into; the tool never reads them.
struct GroupTicket {
  BYTE bytes[16];
};

struct ProgrammingServer : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Unused3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused4() = 0;
  /// 5: the access identities for a unit, as a word array of
  /// (identityGroup, identityId, accessLevel) triples. The tool always
  /// passes 0, 0, 1 as the three trailing arguments.
  virtual HRESULT STDMETHODCALLTYPE GetIdentities(USHORT unitKeyA,
                                                  USHORT unitKeyB, LONG first,
                                                  LONG second, LONG third,
                                                  SAFEARRAY** identities) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused6() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused7() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused8() = 0;
  /// 9: the name of an access level.
  virtual HRESULT STDMETHODCALLTYPE GetAccessName(USHORT accessLevel,
                                                  BSTR* name) = 0;
  /// 10: the name of an identity.
  virtual HRESULT STDMETHODCALLTYPE GetIdentityName(USHORT identityGroup,
                                                    USHORT identityId,
                                                    BSTR* name) = 0;
  /// 11: hands the server the whole profile block (a byte array the caller
  /// keeps).
  virtual HRESULT STDMETHODCALLTYPE SetProfile(SAFEARRAY* profile) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused12() = 0;
  /// 13: the attached units, as a byte array of 1256-byte device records.
  virtual HRESULT STDMETHODCALLTYPE DetectDevices(SAFEARRAY** devices) = 0;
  /// 14: opens a unit by its address; the output stays empty when the unit
  /// cannot be had.
  virtual HRESULT STDMETHODCALLTYPE OpenDevice(ULONG unitAddressA,
                                               UnitAddressTail addressTail,
                                               DeviceInterface** device) = 0;
  /// 15: the server's version.
  virtual HRESULT STDMETHODCALLTYPE GetVersion(USHORT* major,
                                               USHORT* minor) = 0;
};

struct DeviceInterface : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Unused3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused6() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused7() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused8() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused9() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused10() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused11() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused12() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused13() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused14() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused15() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused16() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused17() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused18() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused19() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused20() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused21() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused22() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused23() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused24() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused25() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused26() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused27() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused28() = 0;
  /// 29: the programming interface for the unit's code flash; the output
  /// stays empty when it cannot be had.
  virtual HRESULT STDMETHODCALLTYPE GetCodeProgrammer(
      USHORT unitKeyA, USHORT identityId, ProgrammingInterface** code) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused30() = 0;
  /// 31: the same for the unit's store flash.
  virtual HRESULT STDMETHODCALLTYPE GetStoreProgrammer(
      USHORT unitKeyA, USHORT identityId, ProgrammingInterface** store) = 0;
};

// StatusWord values of the device operations; anything else is a refusal.
constexpr USHORT kStatusDone = 0;
constexpr USHORT kStatusBusy = 17;

struct ProgrammingInterface : public IUnknown {
  /// 3: takes a programming group at the unit for this region.
  virtual HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG groupKey,
                                                 REFGUID groupId,
                                                 GroupTicket* ticket,
                                                 USHORT* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused4() = 0;
  /// 5: 0 when the region is already blank, 17 when an erase has started.
  virtual HRESULT STDMETHODCALLTYPE StartErase(ULONG startAddress, ULONG length,
                                               USHORT* status) = 0;
  /// 6: 17 while the erase runs, then 0 or a failure.
  virtual HRESULT STDMETHODCALLTYPE PollErase(USHORT* status) = 0;
  /// 7: writes a byte array of exactly `length` bytes from the address.
  virtual HRESULT STDMETHODCALLTYPE ProgramRegion(ULONG startAddress,
                                                  ULONG length, SAFEARRAY* data,
                                                  USHORT* status) = 0;
  /// 8: asks the unit to reset.
  virtual HRESULT STDMETHODCALLTYPE ResetDevice(USHORT* status) = 0;
};

/// Answered by the simulated server only, never by a device maker's: a
/// program that reaches the class through COM asks for it to learn whether
/// COM started the simulator, whatever the registry seems to say.
struct SimulatedServer : public IUnknown {
  /// 3: the full path of the simulator's executable that answers, and
  /// whether it is a 32-bit or a 64-bit program (32 or 64).
  virtual HRESULT STDMETHODCALLTYPE GetSimulator(BSTR* path, LONG* bits) = 0;
};

/// The server's class and the identifiers of its interfaces.
extern const CLSID CLSID_ProgrammingServer;
extern const IID IID_ProgrammingServer;
extern const IID IID_DeviceInterface;
extern const IID IID_ProgrammingInterface;
extern const IID IID_SimulatedServer;

#endif  // ECUPROG_SERVER_SERVER_INTERFACES_H

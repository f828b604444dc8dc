/* Calls every entry of the three interfaces by name through the function
 * tables the marshalling code is generated with (programming_server.idl),
 * for interface_layout_test.cpp. */
#include "programming_server.h"
#include "interface_layout_calls.h"

#define CALL0(I, N) \
  static HRESULT I##_##N(void *object) { \
    I *self = (I *)object; \
    return self->lpVtbl->N(self); \
  }

CALL0(ProgrammingServer, Unused3)
CALL0(ProgrammingServer, Unused4)
CALL0(ProgrammingServer, Unused6)
CALL0(ProgrammingServer, Unused7)
CALL0(ProgrammingServer, Unused8)
CALL0(ProgrammingServer, Unused12)

static HRESULT ProgrammingServer_GetIdentities(void *object) {
  ProgrammingServer *self = (ProgrammingServer *)object;
  return self->lpVtbl->GetIdentities(self, 0x1111, 0x2222, 3, -4, 5,
                                     (LPSAFEARRAY *)kLayoutOut);
}
static HRESULT ProgrammingServer_GetAccessName(void *object) {
  ProgrammingServer *self = (ProgrammingServer *)object;
  return self->lpVtbl->GetAccessName(self, 0x3333, (BSTR *)kLayoutOut);
}
static HRESULT ProgrammingServer_GetIdentityName(void *object) {
  ProgrammingServer *self = (ProgrammingServer *)object;
  return self->lpVtbl->GetIdentityName(self, 0x4444, 0x5555,
                                       (BSTR *)kLayoutOut);
}
static HRESULT ProgrammingServer_SetProfile(void *object) {
  ProgrammingServer *self = (ProgrammingServer *)object;
  return self->lpVtbl->SetProfile(self, (LPSAFEARRAY)kLayoutOut);
}
static HRESULT ProgrammingServer_DetectDevices(void *object) {
  ProgrammingServer *self = (ProgrammingServer *)object;
  return self->lpVtbl->DetectDevices(self, (LPSAFEARRAY *)kLayoutOut);
}
/* The six bytes leave here as the marshalling declares them (a pointer on
 * x64, the value on x86) and arrive by value in C++. */
static HRESULT ProgrammingServer_OpenDevice(void *object) {
  ProgrammingServer *self = (ProgrammingServer *)object;
  UnitAddressTail tail;
  tail.unitAddressB = 0x00470001;
  tail.unitAddressC = 0x0203;
#ifdef UNIT_ADDRESS_TAIL_BY_POINTER
  return self->lpVtbl->OpenDevice(self, 0x6666, &tail,
                                  (DeviceInterface **)kLayoutOut);
#else
  return self->lpVtbl->OpenDevice(self, 0x6666, tail,
                                  (DeviceInterface **)kLayoutOut);
#endif
}
static HRESULT ProgrammingServer_GetVersion(void *object) {
  ProgrammingServer *self = (ProgrammingServer *)object;
  return self->lpVtbl->GetVersion(self, (USHORT *)kLayoutOut,
                                  (USHORT *)kLayoutOut + 1);
}

CALL0(DeviceInterface, Unused3)
CALL0(DeviceInterface, Unused4)
CALL0(DeviceInterface, Unused5)
CALL0(DeviceInterface, Unused6)
CALL0(DeviceInterface, Unused7)
CALL0(DeviceInterface, Unused8)
CALL0(DeviceInterface, Unused9)
CALL0(DeviceInterface, Unused10)
CALL0(DeviceInterface, Unused11)
CALL0(DeviceInterface, Unused12)
CALL0(DeviceInterface, Unused13)
CALL0(DeviceInterface, Unused14)
CALL0(DeviceInterface, Unused15)
CALL0(DeviceInterface, Unused16)
CALL0(DeviceInterface, Unused17)
CALL0(DeviceInterface, Unused18)
CALL0(DeviceInterface, Unused19)
CALL0(DeviceInterface, Unused20)
CALL0(DeviceInterface, Unused21)
CALL0(DeviceInterface, Unused22)
CALL0(DeviceInterface, Unused23)
CALL0(DeviceInterface, Unused24)
CALL0(DeviceInterface, Unused25)
CALL0(DeviceInterface, Unused26)
CALL0(DeviceInterface, Unused27)
CALL0(DeviceInterface, Unused28)
CALL0(DeviceInterface, Unused30)

static HRESULT DeviceInterface_GetCodeProgrammer(void *object) {
  DeviceInterface *self = (DeviceInterface *)object;
  return self->lpVtbl->GetCodeProgrammer(self, 0x7777, 0x8888,
                                         (ProgrammingInterface **)kLayoutOut);
}
static HRESULT DeviceInterface_GetStoreProgrammer(void *object) {
  DeviceInterface *self = (DeviceInterface *)object;
  return self->lpVtbl->GetStoreProgrammer(self, 0x9999, 0xAAAA,
                                          (ProgrammingInterface **)kLayoutOut);
}

static const GUID kGroup = {0x01020304, 0x0506, 0x0708,
                            {9, 10, 11, 12, 13, 14, 15, 16}};
static HRESULT ProgrammingInterface_AcquireGroup(void *object) {
  ProgrammingInterface *self = (ProgrammingInterface *)object;
  return self->lpVtbl->AcquireGroup(self, 0xBBBBBBBB, &kGroup,
                                    (GroupTicket *)kLayoutOut,
                                    (USHORT *)kLayoutOut + 8);
}
CALL0(ProgrammingInterface, Unused4)
static HRESULT ProgrammingInterface_StartErase(void *object) {
  ProgrammingInterface *self = (ProgrammingInterface *)object;
  return self->lpVtbl->StartErase(self, 0xCCCCCCCC, 0xDDDDDDDD,
                                  (USHORT *)kLayoutOut);
}
static HRESULT ProgrammingInterface_PollErase(void *object) {
  ProgrammingInterface *self = (ProgrammingInterface *)object;
  return self->lpVtbl->PollErase(self, (USHORT *)kLayoutOut);
}
static HRESULT ProgrammingInterface_ProgramRegion(void *object) {
  ProgrammingInterface *self = (ProgrammingInterface *)object;
  return self->lpVtbl->ProgramRegion(self, 0xEEEEEEEE, 0x12345678,
                                     (LPSAFEARRAY)kLayoutOut,
                                     (USHORT *)kLayoutOut);
}
static HRESULT ProgrammingInterface_ResetDevice(void *object) {
  ProgrammingInterface *self = (ProgrammingInterface *)object;
  return self->lpVtbl->ResetDevice(self, (USHORT *)kLayoutOut);
}

#define ENTRY(I, N, SLOT) {#I "::" #N, SLOT, I##_##N}

const LayoutCall kProgrammingServerCalls[] = {
    ENTRY(ProgrammingServer, Unused3, 3),
    ENTRY(ProgrammingServer, Unused4, 4),
    ENTRY(ProgrammingServer, GetIdentities, 5),
    ENTRY(ProgrammingServer, Unused6, 6),
    ENTRY(ProgrammingServer, Unused7, 7),
    ENTRY(ProgrammingServer, Unused8, 8),
    ENTRY(ProgrammingServer, GetAccessName, 9),
    ENTRY(ProgrammingServer, GetIdentityName, 10),
    ENTRY(ProgrammingServer, SetProfile, 11),
    ENTRY(ProgrammingServer, Unused12, 12),
    ENTRY(ProgrammingServer, DetectDevices, 13),
    ENTRY(ProgrammingServer, OpenDevice, 14),
    ENTRY(ProgrammingServer, GetVersion, 15),
    {0, 0, 0}};

const LayoutCall kDeviceInterfaceCalls[] = {
    ENTRY(DeviceInterface, Unused3, 3),   ENTRY(DeviceInterface, Unused4, 4),
    ENTRY(DeviceInterface, Unused5, 5),   ENTRY(DeviceInterface, Unused6, 6),
    ENTRY(DeviceInterface, Unused7, 7),   ENTRY(DeviceInterface, Unused8, 8),
    ENTRY(DeviceInterface, Unused9, 9),   ENTRY(DeviceInterface, Unused10, 10),
    ENTRY(DeviceInterface, Unused11, 11), ENTRY(DeviceInterface, Unused12, 12),
    ENTRY(DeviceInterface, Unused13, 13), ENTRY(DeviceInterface, Unused14, 14),
    ENTRY(DeviceInterface, Unused15, 15), ENTRY(DeviceInterface, Unused16, 16),
    ENTRY(DeviceInterface, Unused17, 17), ENTRY(DeviceInterface, Unused18, 18),
    ENTRY(DeviceInterface, Unused19, 19), ENTRY(DeviceInterface, Unused20, 20),
    ENTRY(DeviceInterface, Unused21, 21), ENTRY(DeviceInterface, Unused22, 22),
    ENTRY(DeviceInterface, Unused23, 23), ENTRY(DeviceInterface, Unused24, 24),
    ENTRY(DeviceInterface, Unused25, 25), ENTRY(DeviceInterface, Unused26, 26),
    ENTRY(DeviceInterface, Unused27, 27), ENTRY(DeviceInterface, Unused28, 28),
    ENTRY(DeviceInterface, GetCodeProgrammer, 29),
    ENTRY(DeviceInterface, Unused30, 30),
    ENTRY(DeviceInterface, GetStoreProgrammer, 31),
    {0, 0, 0}};

const LayoutCall kProgrammingInterfaceCalls[] = {
    ENTRY(ProgrammingInterface, AcquireGroup, 3),
    ENTRY(ProgrammingInterface, Unused4, 4),
    ENTRY(ProgrammingInterface, StartErase, 5),
    ENTRY(ProgrammingInterface, PollErase, 6),
    ENTRY(ProgrammingInterface, ProgramRegion, 7),
    ENTRY(ProgrammingInterface, ResetDevice, 8),
    {0, 0, 0}};

const unsigned kProgrammingServerSlots =
    sizeof(ProgrammingServerVtbl) / sizeof(void *);
const unsigned kDeviceInterfaceSlots =
    sizeof(DeviceInterfaceVtbl) / sizeof(void *);
const unsigned kProgrammingInterfaceSlots =
    sizeof(ProgrammingInterfaceVtbl) / sizeof(void *);
const unsigned kUnitAddressTailSize = sizeof(UnitAddressTail);

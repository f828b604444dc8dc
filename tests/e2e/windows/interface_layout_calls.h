/* The calls interface_layout_calls.c makes through the generated tables. */
#ifndef ECUPROG_TESTS_E2E_WINDOWS_INTERFACE_LAYOUT_CALLS_H
#define ECUPROG_TESTS_E2E_WINDOWS_INTERFACE_LAYOUT_CALLS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Every output argument points here; the test objects write nothing. */
extern unsigned char kLayoutOut[64];

typedef struct LayoutCall {
  const char *name;   /* interface::method, as in the description */
  unsigned slot;      /* where server_interfaces.h has it */
  long (*call)(void *object);  /* calls it by name through the C table */
} LayoutCall;

/* Each list ends with an entry whose name is null. */
extern const LayoutCall kProgrammingServerCalls[];
extern const LayoutCall kDeviceInterfaceCalls[];
extern const LayoutCall kProgrammingInterfaceCalls[];
/* The number of entries in each generated table, IUnknown's three
 * included, and the generated size of the six address bytes. */
extern const unsigned kProgrammingServerSlots;
extern const unsigned kDeviceInterfaceSlots;
extern const unsigned kProgrammingInterfaceSlots;
extern const unsigned kUnitAddressTailSize;

#ifdef __cplusplus
}
#endif

#endif

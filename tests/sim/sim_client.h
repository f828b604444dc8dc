// What the simulator's tests use to call it as a client would.
#ifndef ECUPROG_TESTS_SIM_SIM_CLIENT_H
#define ECUPROG_TESTS_SIM_SIM_CLIENT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/device_record.h"
#include "server/server_interfaces.h"
#include "sim/sim_state.h"

/// Holds one reference and releases it.
template <typename T>
struct Releaser {
  void operator()(T* object) const { object->Release(); }
};
template <typename T>
using Ref = std::unique_ptr<T, Releaser<T>>;

/// The bytes of a received array (destroyed afterwards), and its element
/// type and count.
struct Received {
  bool present = false;
  VARTYPE type = VT_EMPTY;
  int64_t count = 0;
  std::vector<uint8_t> bytes;
};
Received TakeArray(SAFEARRAY* array);

/// A VT_UI1 array of `bytes`, lower bound 0; the caller destroys it.
SAFEARRAY* ByteArray(const std::vector<uint8_t>& bytes);

std::vector<DeviceRecord> Detect(ProgrammingServer* root);

/// Opens the unit as the tool does, from its detected record.
Ref<DeviceInterface> OpenUnit(ProgrammingServer* root,
                              const DeviceRecord& record);

/// The unit's programming interface for `region`, asked with its own key
/// and `identityId`.
Ref<ProgrammingInterface> Programmer(DeviceInterface* device,
                                     const DeviceRecord& record,
                                     SimRegion region, USHORT identityId);

/// Acquires a programming group on `programmer` with `groupKey`, expecting
/// the call itself to succeed; returns the unit's status (0xFFFF when it
/// wrote none).
USHORT AcquireGroup(ProgrammingInterface* programmer, ULONG groupKey);

/// The detected record of the unit named `unit` on `state`'s bench.
DeviceRecord RecordOf(ProgrammingServer* root, const SimState& state,
                      const std::string& unit);

/// The text of a BSTR as UTF-8 (freed afterwards); "(null)" for none.
std::string TakeText(BSTR text);

#endif  // ECUPROG_TESTS_SIM_SIM_CLIENT_H

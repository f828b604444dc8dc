// The bench folder's bench.json: reading it (strictly: a bench that is not
// understood is refused with a message naming the field) and writing it.
//
//   {
//     "serverVersion": [1, 5],
//     "readyState": 1001,            // unit state when its flash boots
//     "notReadyState": 1000,         // ... when it does not
//     "accessLevelNames": {"0": "Full access", "1": null},
//     "identityNames": {"1/0": "Werkstatt München"},   // "group/id"
//     "units": [{
//       "name": "w3-bay1",
//       "unitAddressA": 1, "unitAddressB": "0x00470001", "unitAddressC": 1,
//       "groupKey": "0x00C0FFEE",     // any number may be a "0x" string
//       "modelName": "W3",
//       "bootBranch": 1, "bootVersion": 40,
//       "serialNumber": 4711,
//       "unitKeyA": 259, "unitKeyB": 516,
//       "unitLabel": "Rack A, slot 1",
//       "identities": [[1, 7, 1], [1, 0, 0]],  // group, id, accessLevel
//       "codeFlash": "w3-bay1-code.bin", "storeFlash": "w3-bay1-store.bin",
//       "eraseMs": 1000, "erasePolls": 0, "programMs": 800
//     }, {
//       "name": "w3-bay2", "modelName": "W3", "unitState": 700,
//       "unitCodeBranch": 1, "unitCodeVersion": 462, "unitCodeRevision": 7
//     }, {
//       "name": "raw", "rawRecord": "0100...",  // 1256 bytes as 2512 hex
//       "identities": null            // not known: GetIdentities fails
//     }],
//     "faults": [
//       {"operation": "PollErase", "region": "code", "call": 3,
//        "action": "status", "value": 5},
//       {"operation": "DetectDevices", "action": "badLength", "value": 2511},
//       {"operation": "ProgramRegion", "region": "store", "call": 1,
//        "action": "exit", "during": true}
//     ]
//   }
//
// Every field may be left out and then takes the SimBench/SimUnit default
// (a unit needs only its name), except that units written without an
// address, or without keys, get ones no other unit shows. A unit with
// flash files takes its code release from its code flash and so may not
// name it; its unitState, when given, is what it shows (instead of
// notReadyState) while its flash holds no bootable code, or code without
// its profile in the store flash. A unit with a "rawRecord" shows those
// bytes and leaves out every field they hold (address, group key, model,
// boot, serial, keys, label, code release, and without flash files its
// state); with flash files its state and, while its flash boots, its code
// release come from its flash, and "unitState" may say what it shows while
// its flash boots nothing. Fault actions: "resultCode", "status",
// "emptyOutput", "wrongElementType", "badLength", "exit" (see FaultAction).
#ifndef ECUPROG_SIM_BENCH_JSON_H
#define ECUPROG_SIM_BENCH_JSON_H

#include <string>

#include "sim/bench.h"

/// The file in a bench folder that describes the bench.
constexpr const char* kBenchFileName = "bench.json";

/// Reads `json` as the bench of `folder`. Throws BenchError, whose message
/// begins with "bench.json: ", for anything it does not accept; nothing
/// else escapes.
SimBench ParseBench(const std::string& json, const std::string& folder);

/// The bytes of the plain file at `path`, never waited on nor read through
/// a link: at most `limit` + 1 of them, so that the caller can tell a file
/// too large. Throws BenchError naming the path when it cannot be read.
std::string ReadPlainFile(const std::string& path, uint64_t limit);

/// Reads the bench.json of `folder`. Throws BenchError.
SimBench LoadBench(const std::string& folder);

/// The bench as bench.json text; ParseBench reads it back unchanged.
std::string BenchToJson(const SimBench& bench);

/// Creates the bench folder (owner only) if needed, replaces bench.json in
/// one step (readers see the old bench or the new one) and creates the
/// flash files that do not exist yet, erased. Throws BenchError.
void SaveBench(const SimBench& bench);

#endif  // ECUPROG_SIM_BENCH_JSON_H

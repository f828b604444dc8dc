// The server as the job's record sees it: a wrapper around the server's
// objects that hands every call on unchanged and writes it, with its
// answer, into the record. The steps that change a unit (an erase, a write,
// the reset) are written to the disk before their request goes to the
// server, so that a job cut short shows where it was cut.
#ifndef ECUPROG_SERVER_RECORDING_SERVER_H
#define ECUPROG_SERVER_RECORDING_SERVER_H

#include "server/com_ref.h"
#include "server/device_record.h"
#include "server/server_interfaces.h"

/// The server wrapped for the record; the server itself when no record is
/// kept. The device and programming interfaces the wrapper hands out are
/// wrapped in the same way.
ComRef<ProgrammingServer> RecordServerCalls(ComRef<ProgrammingServer> server);

/// Writes the unit the operator chose into the record.
void RecordChosenUnit(const DeviceRecord& unit);

#endif  // ECUPROG_SERVER_RECORDING_SERVER_H

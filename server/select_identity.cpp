#include "server/select_identity.h"

#include "report/console.h"
#include "report/stop_run.h"
#include "server/array_response.h"
#include "server/com_ref.h"

namespace {

constexpr USHORT kSufficientAccess = 0;

}  // namespace

USHORT SelectIdentity(ProgrammingServer* server, const DeviceRecord& unit) {
  SafeArrayRef identities;
  CheckServerResult(server->GetIdentities(unit.unitKeyA(), unit.unitKeyB(),
                                          /*first=*/0, /*second=*/0,
                                          /*third=*/1, identities.Out()));
  size_t elements = 0;
  if (!TakeOverArray(identities, VT_UI2, &elements) || elements % 3 != 0) {
    StopRun(1, "DEVICE DETECT RESPONSE INVALID");
  }

  // Read from the array's first element, whatever its lower bound.
  const auto* words = static_cast<const USHORT*>(identities.data());
  bool found = false;
  USHORT chosen = 0;
  for (size_t entry = 0; entry < elements / 3; ++entry) {
    USHORT identityGroup = words[3 * entry];
    USHORT identityId = words[3 * entry + 1];
    USHORT accessLevel = words[3 * entry + 2];

    BstrRef identityName;
    CheckServerResult(server->GetIdentityName(identityGroup, identityId,
                                              identityName.Out()));
    BstrRef accessName;
    CheckServerResult(server->GetAccessName(accessLevel, accessName.Out()));
    PrintWide(OLESTR("Access as %ls : %ls\n"), identityName.get(),
              accessName.get());

    if (accessLevel == kSufficientAccess) {
      if (identityId == 0 || !found) chosen = identityId;
      found = true;
    }
  }
  if (!found) StopRun(1, "NO IDENTITY WITH SUFFICIENT ACCESS FOUND");
  return chosen;
}

#include "programming/boot_check.h"

#include "report/stop_run.h"

void CheckBootCode(const DeviceRecord& unit, const BlockHeader& codeHeader) {
  uint16_t unitBranch = unit.bootBranch();
  uint16_t unitVersion = unit.bootVersion();
  uint16_t requiredBranch = codeHeader.minBootBranch();
  uint16_t requiredVersion = codeHeader.minBootVersion();
  if (unitBranch < requiredBranch) {
    StopRun(1, "BOOT CODE BRANCH TOO LOW FOR THIS CODE");
  }
  // The version only counts within the required branch: a newer branch
  // runs the code whatever its version.
  if (unitBranch == requiredBranch && unitVersion < requiredVersion) {
    StopRun(1, "BOOT CODE VERSION TOO LOW FOR THIS CODE");
  }
}

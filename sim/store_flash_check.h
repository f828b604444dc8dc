// How a simulated unit judges its store flash when it starts: the code it
// boots runs only with a profile made for it. A store cut short (erased,
// torn, or still holding the profile of the code it replaced) leaves the
// unit in its boot code, waiting for a job to finish what was begun.
#ifndef ECUPROG_SIM_STORE_FLASH_CHECK_H
#define ECUPROG_SIM_STORE_FLASH_CHECK_H

#include <cstdint>
#include <string>
#include <vector>

#include "sim/code_flash_check.h"

/// Whether `storeFlash` (the region from store address 0) holds from its
/// start an intact profile block for the code `code` of model `modelName`:
/// magic, block type 3, start address 0, an end address that leaves the
/// block 1024 to 262143 bytes long and inside the flash, header version
/// 1.0, target name equal to the model name, the code's branch and version,
/// a revision range that holds the code's revision, and a checksum over the
/// block's length that gives 0.
bool HoldsProfileFor(const std::vector<uint8_t>& storeFlash,
                     const std::string& modelName, const CodeRelease& code);

#endif  // ECUPROG_SIM_STORE_FLASH_CHECK_H

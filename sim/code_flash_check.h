// How a simulated unit judges its code flash when it starts: it boots the
// code block it finds there, or stays in its boot code.
#ifndef ECUPROG_SIM_CODE_FLASH_CHECK_H
#define ECUPROG_SIM_CODE_FLASH_CHECK_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CodeRelease {
  uint16_t branch = 0;
  uint16_t version = 0;
  uint16_t revision = 0;
};

/// Builds CrcTable the first time it is called; the simulator may run
/// before, or without, the tool's own start-up that builds it.
void EnsureCrcTable();

/// The release of the code block that `codeFlash` (the region from unit
/// address 0x10000) holds from its start, when that block is intact and
/// made for `modelName`: magic, block type 1, start address 0x10000, an end
/// address inside the flash, header version 1.1 to 1.3, target name equal
/// to the model name, and a checksum over the block's length that gives 0.
/// No value for erased, damaged or foreign code.
std::optional<CodeRelease> BootableCode(const std::vector<uint8_t>& codeFlash,
                                        const std::string& modelName);

#endif  // ECUPROG_SIM_CODE_FLASH_CHECK_H

// The tool's own refusals of a release, run over the blocks before they are
// built into it: everything the tool checks of its firmware on its way to
// the first write, the restamp included, with the message it would end on.
#ifndef ECUPROG_TOOLS_FIRMWARE_CHECK_H
#define ECUPROG_TOOLS_FIRMWARE_CHECK_H

#include <cstdint>
#include <string>
#include <vector>

#include "blocks/code_image.h"
#include "blocks/profile_block.h"

struct FirmwareCheck {
  /// The message the tool would stop a job with; empty when it takes both
  /// blocks.
  std::string refusal;
  /// What the tool wrote before it stopped or went on: the release line.
  std::string output;
  /// The blocks as the tool holds them; set only when nothing was refused.
  /// The profile is a view of the profile bytes given to the check.
  CodeImage image;
  ProfileBlock profile;
};

/// Runs the tool's loading of the code block and of the profile over the
/// given blocks, as if they were its embedded resources, and restamps a copy
/// of the code image at two different programming times. Leaves the console,
/// the stop routine and the resource table as they were at start: their
/// defaults.
FirmwareCheck CheckFirmware(const std::vector<uint8_t>& code,
                            const std::vector<uint8_t>& profile);

#endif  // ECUPROG_TOOLS_FIRMWARE_CHECK_H

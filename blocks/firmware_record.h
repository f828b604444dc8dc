// The firmware in the job's record: what the tool carries, and the image as
// it goes onto the unit.
#ifndef ECUPROG_BLOCKS_FIRMWARE_RECORD_H
#define ECUPROG_BLOCKS_FIRMWARE_RECORD_H

#include "blocks/code_image.h"
#include "blocks/profile_block.h"

/// Writes the "firmware" entry: target, release, block times and the
/// SHA-256 of each block as embedded, as the release notes give them.
void RecordFirmware(const CodeImage& image, const ProfileBlock& profile);

/// Writes the "restamp" entry of a restamped image: its programming time
/// and its new checksum.
void RecordRestamp(const CodeImage& image);

#endif  // ECUPROG_BLOCKS_FIRMWARE_RECORD_H

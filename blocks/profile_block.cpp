#include "blocks/profile_block.h"

#include "blocks/block_crc.h"
#include "blocks/image_resource.h"
#include "report/console.h"
#include "report/stop_run.h"

ProfileBlock LoadProfileBlock(const BlockHeader& codeHeader) {
  ImageResource resource = LoadImageResource(
      kProfileResourceId,
      {"PROFILE RESOURCE NOT FOUND", "PROFILE RESOURCE TOO SMALL",
       "COULD NOT LOAD PROFILE RESOURCE", "COULD NOT LOCK PROFILE RESOURCE"});
  // The checksum comes first: a damaged profile says so whatever else is
  // wrong with it.
  if (BlockCrc(resource.bytes, resource.size / 4) != 0) {
    StopRun(1, "PROFILE CRC CHECK FAILED");
  }
  if (resource.size > kMaxProfileLength) StopRun(1, "PROFILE TOO LARGE");

  BlockHeader header(resource.bytes);
  if (header.magic() != kBlockMagic) StopRun(1, "BAD BLOCK MAGIC");
  if (header.blockType() != kProfileBlockType) {
    StopRun(1, "NOT A PROFILE BLOCK");
  }
  if (header.targetName() != codeHeader.targetName()) {
    StopRun(1, "PROFILE/CODE MISMATCH");
  }
  if (header.startAddress() != 0) {
    StopRun(1, "PROFILE BLOCK START FIELD INCORRECT");
  }
  if (header.endAddress() != resource.size - 1) {
    StopRun(1, "PROFILE BLOCK END FIELD INCORRECT");
  }
  if (header.headerVersionX() != 1) {
    StopRun(1, "UNKNOWN PROFILE HEADER X VERSION");
  }
  if (header.headerVersionY() != 0) {
    StopRun(1, "UNKNOWN PROFILE HEADER Y VERSION");
  }
  if (header.profileCodeBranch() != codeHeader.codeBranch()) {
    StopRun(1, "PROFILE/CODE BRANCH MISMATCH");
  }
  if (header.profileCodeVersion() != codeHeader.codeVersion()) {
    StopRun(1, "PROFILE/CODE VERSION MISMATCH");
  }
  uint16_t revision = codeHeader.codeRevision();
  if (revision > header.maxCodeRevision() ||
      revision < header.minCodeRevision()) {
    StopRun(1, "PROFILE/CODE REVISION MISMATCH");
  }

  Print("Ready to program %s firmware release %d.%d.%d\n",
        codeHeader.targetName().c_str(), int{codeHeader.codeBranch()},
        int{codeHeader.codeVersion()}, int{revision});
  return ProfileBlock{resource.bytes, resource.size};
}

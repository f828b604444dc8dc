// Code and profile blocks made up for a bench: the header fields the tool
// and the simulated unit look at, pseudo-random content and an intact
// checksum. Not firmware; enough for a unit to boot in the simulation.
#ifndef ECUPROG_SIM_SAMPLE_BLOCKS_H
#define ECUPROG_SIM_SAMPLE_BLOCKS_H

#include <cstdint>
#include <string>
#include <vector>

struct SampleCodeBlock {
  std::string targetName = "W3";
  uint16_t codeBranch = 1;
  uint16_t codeVersion = 463;
  uint16_t codeRevision = 1;
  uint16_t minBootBranch = 1;
  uint16_t minBootVersion = 38;
  /// Bytes; a multiple of 4, at least 512, at most the code flash size.
  uint32_t length = 0x10000;
  /// Varies the content, so that two blocks of one release still differ.
  uint32_t seed = 1;
};

/// The inflated code block, to be placed at unit address 0x10000: header at
/// offset 256 (header version 1.3), checksum in the last four bytes.
std::vector<uint8_t> MakeSampleCodeBlock(const SampleCodeBlock& block);

struct SampleProfileBlock {
  std::string targetName = "W3";
  uint16_t codeBranch = 1;
  uint16_t codeVersion = 463;
  uint16_t minCodeRevision = 1;
  uint16_t maxCodeRevision = 1;
  /// Bytes; a multiple of 4, at least 1024, at most 262140.
  uint32_t length = 0x4000;
  uint32_t seed = 1;
};

/// The profile block, to be placed at store address 0: header at offset 0
/// (header version 1.0), checksum in the last four bytes.
std::vector<uint8_t> MakeSampleProfileBlock(const SampleProfileBlock& block);

#endif  // ECUPROG_SIM_SAMPLE_BLOCKS_H

// What a finished job must have left on the bench: the checks that whole-job
// tests share.
#ifndef ECUPROG_TESTS_E2E_JOB_CHECKS_H
#define ECUPROG_TESTS_E2E_JOB_CHECKS_H

#include <cstdint>
#include <string>
#include <vector>

std::vector<uint8_t> ReadFile(const std::string& path);

/// The code image the tool carries, inflated, before restamping.
std::vector<uint8_t> EmbeddedCodeImage();
/// The profile block the tool carries.
std::vector<uint8_t> EmbeddedProfile();

/// Expects the code flash `code` to hold the tool's image restamped by a
/// job that ran from `before` to `after` (seconds since 1970): intact,
/// stamped within the run, otherwise the image byte for byte.
void ExpectRestampedImage(std::vector<uint8_t> code, uint32_t before,
                          uint32_t after);

/// Expects the store flash `store` to begin with the tool's profile.
void ExpectProfile(const std::vector<uint8_t>& store);

#endif  // ECUPROG_TESTS_E2E_JOB_CHECKS_H

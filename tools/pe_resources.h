// Reads an IMAGE resource out of a built Windows program, so that what a
// release kit says it carries is taken from the program itself rather
// than from the files the build was pointed at.
#ifndef ECUPROG_TOOLS_PE_RESOURCES_H
#define ECUPROG_TOOLS_PE_RESOURCES_H

#include <cstdint>
#include <vector>

/// The bytes of resource type "IMAGE", numbered `id` (first language), of
/// the PE file `program`. False when the file is no PE program, has no such
/// resource, or any offset in the way points outside the file.
bool ReadImageResource(const std::vector<uint8_t>& program, uint16_t id,
                       std::vector<uint8_t>* bytes);

#endif  // ECUPROG_TOOLS_PE_RESOURCES_H

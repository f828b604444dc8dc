// The resources embedded in the program at build time, as FindResourceA and
// its companions see them on POSIX hosts.
#ifndef ECUPROG_PLATFORM_POSIX_RESOURCE_TABLE_H
#define ECUPROG_PLATFORM_POSIX_RESOURCE_TABLE_H

#include <cstddef>

#include "platform/posix/windows_subset.h"

struct EmbeddedResource {
  const char* type;   // "IMAGE"
  WORD id;            // a numbered entry; 0 for a named one
  const char* name;   // a named entry, or nullptr
  const BYTE* data;   // nullptr: LockResource gives no pointer
  DWORD size;
  bool refusesLoad;   // LoadResource fails
};

/// The table the build generated from the resource script. Programs that
/// embed no firmware (tests, tools) get an empty one.
extern const EmbeddedResource* const kEmbeddedResources;
extern const size_t kEmbeddedResourceCount;

/// Makes the resource calls read another table (tests, tools). nullptr goes
/// back to the embedded one. The table must outlive its use.
void UseResourceTable(const EmbeddedResource* table, size_t count);

#endif  // ECUPROG_PLATFORM_POSIX_RESOURCE_TABLE_H

// The resource table of programs that carry no firmware: tests and tools
// install their own with UseResourceTable.
#include "platform/posix/resource_table.h"

const EmbeddedResource* const kEmbeddedResources = nullptr;
const size_t kEmbeddedResourceCount = 0;

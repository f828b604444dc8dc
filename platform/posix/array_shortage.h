// A shortage of memory for OLE arrays, made on purpose: tests use it to
// reach the tool's answers to an array it could not create, which a real
// shortage reaches only by chance.
#ifndef ECUPROG_PLATFORM_POSIX_ARRAY_SHORTAGE_H
#define ECUPROG_PLATFORM_POSIX_ARRAY_SHORTAGE_H

#include <cstdint>

/// From now on SafeArrayCreate lets `skip` arrays of exactly `bytes` bytes
/// through, then refuses the next one as it does when memory runs short.
/// 0 bytes: no array is refused.
void RefuseSafeArrayOfSize(uint64_t bytes, unsigned skip);

#endif  // ECUPROG_PLATFORM_POSIX_ARRAY_SHORTAGE_H

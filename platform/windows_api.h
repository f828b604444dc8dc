// The Windows API the tool is written against.
//
// On Windows this is the real SDK. Everywhere else platform/posix provides
// exactly the subset the tool uses, under the same names and with the same
// meanings, so the core compiles unchanged on both. This is the only header
// of the core that knows which operating system it is built for.
#ifndef ECUPROG_PLATFORM_WINDOWS_API_H
#define ECUPROG_PLATFORM_WINDOWS_API_H

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// Needs windows.h first.
#include <mmsystem.h>
#include <objbase.h>
#include <oleauto.h>
#include <rpc.h>
#else
#include "platform/posix/windows_subset.h"
#endif

#endif  // ECUPROG_PLATFORM_WINDOWS_API_H

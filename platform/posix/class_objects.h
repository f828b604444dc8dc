// The class objects this process has made known with CoRegisterClassObject.
#ifndef ECUPROG_PLATFORM_POSIX_CLASS_OBJECTS_H
#define ECUPROG_PLATFORM_POSIX_CLASS_OBJECTS_H

#include "platform/posix/windows_subset.h"

namespace com_posix {

/// The class factory registered for `clsid` in a context that shares a bit
/// with `clsContext`, with a reference for the caller; null when none.
IClassFactory* FindClassFactory(REFCLSID clsid, DWORD clsContext);

/// Revokes every registration, as the end of COM on a thread does.
void RevokeAllClassObjects();

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_CLASS_OBJECTS_H

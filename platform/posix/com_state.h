// Whether COM is initialised on the calling thread.
#ifndef ECUPROG_PLATFORM_POSIX_COM_STATE_H
#define ECUPROG_PLATFORM_POSIX_COM_STATE_H

namespace com_posix {

/// True between a thread's first CoInitializeEx and its matching last
/// CoUninitialize.
bool ComInitialised();

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_COM_STATE_H

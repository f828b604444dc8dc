#include "blocks/image_resource.h"

#include "platform/windows_api.h"
#include "report/stop_run.h"

ImageResource LoadImageResource(int id, const ImageResourceMessages& messages) {
  // A null module is the file the process was started from.
  HRSRC found = FindResourceA(/*hModule=*/nullptr, MAKEINTRESOURCEA(id),
                              /*lpType=*/"IMAGE");
  if (!found) StopRun(1, messages.notFound);
  DWORD size = SizeofResource(/*hModule=*/nullptr, found);
  if (size < kMinImageResourceSize) StopRun(1, messages.tooSmall);
  HGLOBAL loaded = LoadResource(/*hModule=*/nullptr, found);
  if (!loaded) StopRun(1, messages.cannotLoad);
  const void* bytes = LockResource(loaded);
  if (!bytes) StopRun(1, messages.cannotLock);
  return ImageResource{static_cast<const uint8_t*>(bytes), size};
}

// Fresh identifiers on POSIX hosts: random (version 4) UUIDs, as Windows
// has made them since long ago.
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/windows_subset.h"

namespace {

bool ReadRandom(void* buffer, size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t filled = 0;
  while (filled < size) {
    const ssize_t got = getrandom(bytes + filled, size - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    filled += static_cast<size_t>(got);
  }
  if (filled == size) return true;

  // A kernel without getrandom still has the device.
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  while (filled < size) {
    const ssize_t got = read(fd, bytes + filled, size - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  close(fd);
  return filled == size;
}

}  // namespace

RPC_STATUS UuidCreate(UUID* uuid) {
  if (uuid == nullptr) return RPC_S_INVALID_ARG;
  if (!ReadRandom(uuid, sizeof(UUID))) return RPC_S_UUID_NO_ADDRESS;
  // Version 4 in the top nibble of Data3, variant 10 in the top bits of the
  // first clock byte.
  uuid->Data3 = static_cast<uint16_t>((uuid->Data3 & 0x0FFF) | 0x4000);
  uuid->Data4[0] = static_cast<uint8_t>((uuid->Data4[0] & 0x3F) | 0x80);
  return RPC_S_OK;
}

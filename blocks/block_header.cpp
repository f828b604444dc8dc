#include "blocks/block_header.h"

#include <cstring>

std::string BlockHeader::targetName() const {
  const char* name = reinterpret_cast<const char*>(bytes_ + 0x10);
  // A name that fills the whole field has no NUL: it ends with the field.
  const void* nul = std::memchr(name, '\0', kTargetNameSize);
  size_t length =
      nul ? static_cast<size_t>(static_cast<const char*>(nul) - name)
          : kTargetNameSize;
  return std::string(name, length);
}

void StoreBigEndian32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

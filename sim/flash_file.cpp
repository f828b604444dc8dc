#include "sim/flash_file.h"

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Both regions are far below 2 GiB, so offsets fit a long everywhere.
bool SeekTo(std::FILE* file, uint32_t offset) {
  return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

}  // namespace

FlashFile::FlashFile(std::string path, SimRegion region)
    : path_(std::move(path)),
      base_(region == SimRegion::kCode ? kCodeFlashBase : kStoreFlashBase),
      size_(region == SimRegion::kCode ? kCodeFlashSize : kStoreFlashSize) {}

void FlashFile::Prepare() const {
  File file(std::fopen(path_.c_str(), "rb"));
  if (!file) {
    file.reset(std::fopen(path_.c_str(), "wb"));
    if (!file) throw BenchError(path_ + ": cannot create the flash file");
    std::vector<uint8_t> erased(size_, kErasedByte);
    if (std::fwrite(erased.data(), 1, erased.size(), file.get()) !=
            erased.size() ||
        std::fflush(file.get()) != 0) {
      throw BenchError(path_ + ": cannot write the flash file");
    }
    return;
  }
  if (std::fseek(file.get(), 0, SEEK_END) != 0) {
    throw BenchError(path_ + ": cannot read the flash file");
  }
  const long length = std::ftell(file.get());
  if (length != static_cast<long>(size_)) {
    throw BenchError(path_ + ": holds " + std::to_string(length) +
                     " bytes, a " +
                     (base_ == kCodeFlashBase ? "code" : "store") +
                     " flash file holds " + std::to_string(size_));
  }
}

bool FlashFile::Contains(uint32_t start, uint32_t length) const {
  if (start < base_) return false;
  const uint64_t end = static_cast<uint64_t>(start) + length;
  return end <= static_cast<uint64_t>(base_) + size_;
}

bool FlashFile::ReadRange(uint32_t start, uint32_t length,
                          std::vector<uint8_t>* bytes) const {
  bytes->assign(length, 0);
  File file(std::fopen(path_.c_str(), "rb"));
  if (!file || !SeekTo(file.get(), start - base_)) return false;
  return std::fread(bytes->data(), 1, length, file.get()) == length;
}

std::vector<uint8_t> FlashFile::ReadAll() const {
  std::vector<uint8_t> bytes;
  if (!ReadRange(base_, size_, &bytes)) bytes.clear();
  return bytes;
}

bool FlashFile::IsErased(uint32_t start, uint32_t length) const {
  std::vector<uint8_t> bytes;
  if (!ReadRange(start, length, &bytes)) return false;
  for (uint8_t byte : bytes) {
    if (byte != kErasedByte) return false;
  }
  return true;
}

bool FlashFile::Fill(uint32_t start, uint32_t length, uint8_t value) const {
  std::vector<uint8_t> bytes(length, value);
  return Write(start, bytes.data(), length);
}

bool FlashFile::Write(uint32_t start, const uint8_t* data,
                      uint32_t length) const {
  File file(std::fopen(path_.c_str(), "r+b"));
  if (!file || !SeekTo(file.get(), start - base_)) return false;
  if (length != 0 && std::fwrite(data, 1, length, file.get()) != length) {
    return false;
  }
  return std::fflush(file.get()) == 0;
}

void FlashFile::SectorRange(uint32_t start, uint32_t length,
                            uint32_t* sectorStart,
                            uint32_t* sectorLength) const {
  const uint64_t first = start - (start - base_) % kFlashSectorSize;
  uint64_t end = static_cast<uint64_t>(start) + length;
  end = (end - base_ + kFlashSectorSize - 1) / kFlashSectorSize *
            kFlashSectorSize +
        base_;
  if (end > static_cast<uint64_t>(base_) + size_) end = base_ + size_;
  *sectorStart = static_cast<uint32_t>(first);
  *sectorLength = static_cast<uint32_t>(end - first);
}

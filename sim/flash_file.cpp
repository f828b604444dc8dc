#include "sim/flash_file.h"

#include <filesystem>
#include <memory>

#include "platform/private_file.h"
#include "platform/system_text.h"
#include "sim/bench_files.h"

namespace fs = std::filesystem;

FlashFile::FlashFile(std::string path, SimRegion region)
    : path_(std::move(path)),
      base_(region == SimRegion::kCode ? kCodeFlashBase : kStoreFlashBase),
      size_(region == SimRegion::kCode ? kCodeFlashSize : kStoreFlashSize) {}

std::string FlashFile::WhatItHolds() const {
  return std::string("a ") + (base_ == kCodeFlashBase ? "code" : "store") +
         " flash file holds " + std::to_string(size_) + " bytes";
}

void FlashFile::Prepare() const {
  PrivateFile::Refusal refusal = PrivateFile::Refusal::kNone;
  std::unique_ptr<PrivateFile> file =
      PrivateFile::Open(path_, PrivateFile::Mode::kRead, &refusal);
  if (!file) {
    switch (refusal) {
      case PrivateFile::Refusal::kMissing:
        Create();
        return;
      case PrivateFile::Refusal::kLink:
        throw BenchError(path_ +
                         ": not a plain file (a symbolic link is not "
                         "followed); " +
                         WhatItHolds());
      case PrivateFile::Refusal::kNotPlainFile:
        // Never waited on nor read: a pipe's other end may never come.
        throw BenchError(path_ +
                         ": not a plain file (a folder, a pipe, a device or "
                         "the like); " +
                         WhatItHolds());
      default:
        throw BenchError(path_ + ": cannot be read; " + WhatItHolds());
    }
  }
  const int64_t length = file->Size();
  if (length != static_cast<int64_t>(size_)) {
    throw BenchError(path_ + ": holds " + std::to_string(length) + " bytes, " +
                     WhatItHolds());
  }
}

std::string FlashFile::WriteProblem() const {
  PrivateFile::Refusal refusal = PrivateFile::Refusal::kNone;
  if (PrivateFile::Open(path_, PrivateFile::Mode::kReadWrite, &refusal)) {
    return "";
  }
  if (refusal == PrivateFile::Refusal::kNotAllowed) {
    return path_ +
           ": cannot be written (it is read-only, or the user may not "
           "write it)";
  }
  if (refusal == PrivateFile::Refusal::kMissing) {
    return path_ + ": cannot be written (it is no longer there)";
  }
  if (refusal == PrivateFile::Refusal::kLink ||
      refusal == PrivateFile::Refusal::kNotPlainFile) {
    return path_ + ": cannot be written (it is no longer a plain file)";
  }
  return path_ + ": cannot be written";
}

// Made whole beside its place and moved there in one step, so that a full
// disk or a cut leaves no short file in its place, only one beside it.
void FlashFile::Create() const {
  std::string temporary;
  std::unique_ptr<PrivateFile> file;
  for (int attempt = 0; attempt < 100 && !file; ++attempt) {
    temporary = PathBeside(path_, "new");
    file = PrivateFile::Open(temporary, PrivateFile::Mode::kCreateNew);
  }
  const std::string refused =
      path_ + ": cannot be created (" + WhatItHolds() + ", erased)";
  if (!file) throw BenchError(refused);
  std::vector<uint8_t> erased(size_, kErasedByte);
  const bool written =
      file->WriteAt(0, erased.data(), erased.size()) && file->Sync();
  file.reset();
  if (written && MoveIntoPlaceWhenFree(temporary, path_)) {
    const fs::path folder = PathOf(path_).parent_path();
    SyncFolder(folder.empty() ? "." : TextOf(folder));
    return;
  }
  std::error_code error;
  fs::remove(PathOf(temporary), error);
  // Another server of the bench made it first: that one is whole.
  std::unique_ptr<PrivateFile> made =
      PrivateFile::Open(path_, PrivateFile::Mode::kRead);
  if (made && made->Size() == static_cast<int64_t>(size_)) return;
  throw BenchError(refused);
}

bool FlashFile::Contains(uint32_t start, uint32_t length) const {
  if (start < base_) return false;
  const uint64_t end = static_cast<uint64_t>(start) + length;
  return end <= static_cast<uint64_t>(base_) + size_;
}

bool FlashFile::ReadRange(uint32_t start, uint32_t length,
                          std::vector<uint8_t>* bytes) const {
  bytes->assign(length, 0);
  std::unique_ptr<PrivateFile> file =
      PrivateFile::Open(path_, PrivateFile::Mode::kRead);
  return file && file->ReadAt(start - base_, bytes->data(), length);
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
  std::unique_ptr<PrivateFile> file =
      PrivateFile::Open(path_, PrivateFile::Mode::kReadWrite);
  return file && file->WriteAt(start - base_, data, length);
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

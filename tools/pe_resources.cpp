#include "tools/pe_resources.h"

#include <string>

namespace {

// The resource tree of a PE file: a directory of types, each a directory
// of names or numbers, each a directory of languages, whose entries point
// at the data. Directory offsets count from the start of the resource
// data; the data entries hold image addresses (RVAs).
//
//   directory (16 bytes): ... 0x0C named entries (2), 0x0E numbered (2)
//   entry (8 bytes):      0x00 name: number, or 0x80000000 | offset of a
//                         UTF-16 string with its length in front
//                         0x04 0x80000000 | offset of a subdirectory, or
//                         the offset of a data entry
//   data entry:           0x00 RVA (4), 0x04 size (4)
constexpr uint32_t kHighBit = 0x80000000;
constexpr size_t kResourceDirectoryIndex = 2;

class PeReader {
 public:
  explicit PeReader(const std::vector<uint8_t>& file) : file_(file) {}

  bool U16(size_t at, uint16_t* value) const {
    if (at > file_.size() || file_.size() - at < 2) return false;
    *value = static_cast<uint16_t>(file_[at] | file_[at + 1] << 8);
    return true;
  }
  bool U32(size_t at, uint32_t* value) const {
    if (at > file_.size() || file_.size() - at < 4) return false;
    *value = static_cast<uint32_t>(file_[at]) |
             static_cast<uint32_t>(file_[at + 1]) << 8 |
             static_cast<uint32_t>(file_[at + 2]) << 16 |
             static_cast<uint32_t>(file_[at + 3]) << 24;
    return true;
  }

  /// Finds the section headers and the resource data's image address.
  bool Open() {
    uint32_t peAt = 0;
    uint32_t signature = 0;
    uint16_t sections = 0;
    uint16_t optionalSize = 0;
    uint16_t magic = 0;
    if (!U32(0x3C, &peAt) || !U32(peAt, &signature) ||
        signature != 0x00004550 || !U16(peAt + 6, &sections) ||
        !U16(peAt + 20, &optionalSize)) {
      return false;
    }
    size_t optional = size_t{peAt} + 24;
    if (!U16(optional, &magic)) return false;
    // PE32+ (0x20B) and PE32 (0x10B) differ in where the directories start.
    size_t directories = optional + (magic == 0x20B ? 112 : 96);
    if (magic != 0x20B && magic != 0x10B) return false;
    if (!U32(directories + kResourceDirectoryIndex * 8, &resourceRva_)) {
      return false;
    }
    sectionsAt_ = optional + optionalSize;
    sectionCount_ = sections;
    return resourceRva_ != 0 && ToFileOffset(resourceRva_, &resourceAt_);
  }

  /// The file offset of an image address, through the section holding it.
  bool ToFileOffset(uint32_t rva, size_t* offset) const {
    for (size_t i = 0; i < sectionCount_; ++i) {
      size_t header = sectionsAt_ + i * 40;
      uint32_t virtualSize = 0;
      uint32_t virtualAddress = 0;
      uint32_t rawSize = 0;
      uint32_t rawAt = 0;
      if (!U32(header + 8, &virtualSize) ||
          !U32(header + 12, &virtualAddress) || !U32(header + 16, &rawSize) ||
          !U32(header + 20, &rawAt)) {
        return false;
      }
      if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
        *offset = size_t{rawAt} + (rva - virtualAddress);
        return *offset < file_.size();
      }
    }
    return false;
  }

  /// The entry's target (a subdirectory or data entry offset) in the
  /// directory at `directory`, matched by number or by ASCII name.
  bool Find(uint32_t directory, uint16_t id, const char* name,
            uint32_t* target) const {
    size_t at = resourceAt_ + directory;
    uint16_t named = 0;
    uint16_t numbered = 0;
    if (!U16(at + 12, &named) || !U16(at + 14, &numbered)) return false;
    for (size_t i = 0; i < size_t{named} + numbered; ++i) {
      uint32_t key = 0;
      if (!U32(at + 16 + i * 8, &key) || !U32(at + 20 + i * 8, target)) {
        return false;
      }
      bool match = (key & kHighBit) ? name && NameIs(key & ~kHighBit, name)
                                    : !name && key == id;
      if (match) return true;
    }
    return false;
  }

  /// Any entry of the directory (the first language).
  bool First(uint32_t directory, uint32_t* target) const {
    uint16_t named = 0;
    uint16_t numbered = 0;
    size_t at = resourceAt_ + directory;
    if (!U16(at + 12, &named) || !U16(at + 14, &numbered) ||
        named + numbered == 0) {
      return false;
    }
    return U32(at + 20, target);
  }

  bool Data(uint32_t entry, std::vector<uint8_t>* bytes) const {
    uint32_t rva = 0;
    uint32_t size = 0;
    size_t at = 0;
    if (!U32(resourceAt_ + entry, &rva) ||
        !U32(resourceAt_ + entry + 4, &size) || !ToFileOffset(rva, &at) ||
        file_.size() - at < size) {
      return false;
    }
    bytes->assign(file_.begin() + at, file_.begin() + at + size);
    return true;
  }

 private:
  bool NameIs(uint32_t offset, const char* name) const {
    size_t at = resourceAt_ + offset;
    uint16_t length = 0;
    if (!U16(at, &length) || std::char_traits<char>::length(name) != length) {
      return false;
    }
    for (uint16_t i = 0; i < length; ++i) {
      uint16_t unit = 0;
      if (!U16(at + 2 + i * 2u, &unit) ||
          unit != static_cast<unsigned char>(name[i])) {
        return false;
      }
    }
    return true;
  }

  const std::vector<uint8_t>& file_;
  size_t sectionsAt_ = 0;
  size_t sectionCount_ = 0;
  uint32_t resourceRva_ = 0;
  size_t resourceAt_ = 0;
};

}  // namespace

bool ReadImageResource(const std::vector<uint8_t>& program, uint16_t id,
                       std::vector<uint8_t>* bytes) {
  PeReader pe(program);
  uint32_t names = 0;
  uint32_t languages = 0;
  uint32_t data = 0;
  // Each level must lead to a subdirectory but the last, to data.
  return pe.Open() && pe.Find(0, 0, "IMAGE", &names) && (names & kHighBit) &&
         pe.Find(names & ~kHighBit, id, nullptr, &languages) &&
         (languages & kHighBit) && pe.First(languages & ~kHighBit, &data) &&
         !(data & kHighBit) && pe.Data(data, bytes);
}

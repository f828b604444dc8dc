// Reading the firmware back out of a Windows program: the resource tree
// walked level by level, and a damaged or cut-short file refused rather
// than read past its end.
#include "tools/pe_resources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& file, size_t at, uint16_t value) {
  file[at] = value & 0xFF;
  file[at + 1] = value >> 8;
}
void Put32(Bytes& file, size_t at, uint32_t value) {
  Put16(file, at, value & 0xFFFF);
  Put16(file, at + 2, value >> 16);
}

// A PE32+ file with one section (.rsrc, image address 0x1000, file offset
// 0x200) holding the tree IMAGE / `id` / language 0 / `payload`, laid out
// as windres does: directories first, then names, data entries, data.
Bytes ProgramWith(uint16_t id, const std::string& payload,
                  const std::string& type = "IMAGE") {
  constexpr uint32_t kRva = 0x1000;
  constexpr size_t kRaw = 0x200;
  Bytes file(kRaw + 0x100 + payload.size(), 0);
  file[0] = 'M';
  file[1] = 'Z';
  Put32(file, 0x3C, 0x40);
  Put32(file, 0x40, 0x00004550);  // "PE\0\0"
  Put16(file, 0x46, 1);           // one section
  Put16(file, 0x54, 240);         // optional header size
  Put16(file, 0x58, 0x20B);       // PE32+
  Put32(file, 0x58 + 112 + 2 * 8, kRva);
  size_t section = 0x58 + 240;
  Put32(file, section + 8, static_cast<uint32_t>(file.size() - kRaw));
  Put32(file, section + 12, kRva);
  Put32(file, section + 16, static_cast<uint32_t>(file.size() - kRaw));
  Put32(file, section + 20, kRaw);

  // Root at 0x00, names at 0x18, languages at 0x30, the type's name at
  // 0x48, the data entry at 0x60, the data at 0x100.
  Put16(file, kRaw + 0x0C, 1);  // one named entry
  Put32(file, kRaw + 0x10, 0x80000048);
  Put32(file, kRaw + 0x14, 0x80000018);
  Put16(file, kRaw + 0x18 + 0x0E, 1);  // one numbered entry
  Put32(file, kRaw + 0x18 + 0x10, id);
  Put32(file, kRaw + 0x18 + 0x14, 0x80000030);
  Put16(file, kRaw + 0x30 + 0x0E, 1);
  Put32(file, kRaw + 0x30 + 0x10, 0x0409);
  Put32(file, kRaw + 0x30 + 0x14, 0x60);
  Put16(file, kRaw + 0x48, static_cast<uint16_t>(type.size()));
  for (size_t i = 0; i < type.size(); ++i) {
    Put16(file, kRaw + 0x4A + 2 * i, static_cast<uint8_t>(type[i]));
  }
  Put32(file, kRaw + 0x60, kRva + 0x100);
  Put32(file, kRaw + 0x64, static_cast<uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), file.begin() + kRaw + 0x100);
  return file;
}

TEST(PeResources, ReadsTheNumberedImage) {
  Bytes bytes;
  ASSERT_TRUE(ReadImageResource(ProgramWith(1001, "code block"), 1001, &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "code block");
}

TEST(PeResources, RefusesWhatIsNotTheImageAsked) {
  Bytes bytes;
  struct Case {
    const char* what;
    Bytes program;
    uint16_t id;
  };
  Bytes badSignature = ProgramWith(1001, "x");
  badSignature[0x41] = 'X';
  Bytes dataPastEnd = ProgramWith(1001, "x");
  Put32(dataPastEnd, 0x200 + 0x64, 0x10000);
  Bytes entryIsDirectory = ProgramWith(1001, "x");
  Put32(entryIsDirectory, 0x200 + 0x30 + 0x14, 0x80000000);
  const Case cases[] = {
      {"another number", ProgramWith(1002, "x"), 1001},
      {"another type", ProgramWith(1001, "x", "ICONS"), 1001},
      {"a longer type name", ProgramWith(1001, "x", "IMAGES"), 1001},
      {"no PE signature", badSignature, 1001},
      {"data past the end", dataPastEnd, 1001},
      {"a directory where data belongs", entryIsDirectory, 1001},
      {"an empty file", Bytes(), 1001},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(ReadImageResource(c.program, c.id, &bytes)) << c.what;
  }
}

// Every prefix of a good file: each offset on the way may point past the
// end, and none may be followed there.
TEST(PeResources, RefusesEveryCutShortFile) {
  Bytes program = ProgramWith(1001, "code block");
  Bytes bytes;
  for (size_t length = 0; length < program.size(); ++length) {
    Bytes cut(program.begin(), program.begin() + length);
    EXPECT_FALSE(ReadImageResource(cut, 1001, &bytes)) << length;
  }
}

}  // namespace

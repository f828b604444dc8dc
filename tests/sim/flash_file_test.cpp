#include "sim/flash_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "sim/temp_folder.h"

namespace {

TEST(FlashFile, PrepareCreatesAnErasedRegionOfItsSize) {
  TempFolder folder;
  const FlashFile store(folder.path() + "/s.bin", SimRegion::kStore);
  store.Prepare();
  const std::vector<uint8_t> bytes = store.ReadAll();
  EXPECT_EQ(bytes.size(), kStoreFlashSize);
  EXPECT_TRUE(store.IsErased(0, kStoreFlashSize));
  EXPECT_TRUE(store.Write(0x10, std::vector<uint8_t>{0, 1}.data(), 2));
  store.Prepare();  // an existing file is kept as it is
  EXPECT_FALSE(store.IsErased(0x10, 1));
  EXPECT_TRUE(store.IsErased(0x12, 0x100));
}

TEST(FlashFile, PrepareRefusesAFileOfAnotherSize) {
  TempFolder folder;
  const std::string path = folder.path() + "/c.bin";
  std::ofstream(path) << "short";
  try {
    FlashFile(path, SimRegion::kCode).Prepare();
    FAIL() << "a short flash file was accepted";
  } catch (const BenchError& error) {
    EXPECT_NE(std::string(error.what()).find("holds 5 bytes"),
              std::string::npos)
        << error.what();
  }
}

TEST(FlashFile, ContainsChecksBothEndsWithoutOverflow) {
  const FlashFile code("unused", SimRegion::kCode);
  EXPECT_TRUE(code.Contains(0x10000, 0x70000));
  EXPECT_TRUE(code.Contains(0x7FFFF, 1));
  EXPECT_FALSE(code.Contains(0xFFFF, 1));
  EXPECT_FALSE(code.Contains(0x10000, 0x70001));
  EXPECT_FALSE(code.Contains(0xFFFFFFFF, 2));
}

TEST(FlashFile, SectorRangeWidensToWholeSectorsInsideTheRegion) {
  const FlashFile code("unused", SimRegion::kCode);
  uint32_t start = 0;
  uint32_t length = 0;
  code.SectorRange(0x10000, 0x6E1EC, &start, &length);
  EXPECT_EQ(start, 0x10000u);
  EXPECT_EQ(length, 0x6F000u);
  code.SectorRange(0x10FFF, 2, &start, &length);
  EXPECT_EQ(start, 0x10000u);
  EXPECT_EQ(length, 0x2000u);
  code.SectorRange(0x7FFFF, 1, &start, &length);
  EXPECT_EQ(start + length, 0x80000u);
}

}  // namespace

#include "sim/flash_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include "sim/temp_folder.h"
#include "tests/sim/unusual_files.h"

namespace {

// What the folder holds apart from the files named.
std::vector<std::string> Others(const std::string& folder,
                                const std::vector<std::string>& named) {
  std::vector<std::string> others;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (std::find(named.begin(), named.end(), name) == named.end()) {
      others.push_back(name);
    }
  }
  return others;
}

// A disk that fills up while the file is written: a write past `bytes`
// fails, as on a full file system.
class DiskFullAfter {
 public:
  explicit DiskFullAfter(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &before_);
    signal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~DiskFullAfter() {
    setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, signal_);
  }

 private:
  rlimit before_{};
  void (*signal_)(int) = nullptr;
};

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

struct Unusable {
  const char* name;
  std::function<void(const std::string& path)> put;
  const char* says;  // after the path
};

void PrintTo(const Unusable& u, std::ostream* out) { *out << u.name; }

class FlashFileUnusable : public testing::TestWithParam<Unusable> {};

TEST_P(FlashFileUnusable, IsRefusedNamingWhatItShouldHoldAndKept) {
  TempFolder folder;
  const std::string path = folder.path() + "/c.bin";
  GetParam().put(path);
  const auto before = std::filesystem::symlink_status(path).type();
  try {
    FlashFile(path, SimRegion::kCode).Prepare();
    FAIL() << "an unusable flash file was accepted";
  } catch (const BenchError& error) {
    EXPECT_EQ(error.what(), path + GetParam().says);
  }
  EXPECT_EQ(std::filesystem::symlink_status(path).type(), before);
  EXPECT_EQ(Others(folder.path(), {"c.bin", "elsewhere"}),
            std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Files, FlashFileUnusable,
    testing::Values(
        Unusable{
            "short",
            [](const std::string& path) { std::ofstream(path) << "short"; },
            ": holds 5 bytes, a code flash file holds 458752 bytes"},
        Unusable{"empty", [](const std::string& path) { std::ofstream{path}; },
                 ": holds 0 bytes, a code flash file holds 458752 bytes"},
        Unusable{"long",
                 [](const std::string& path) {
                   std::ofstream(path) << std::string(kCodeFlashSize + 1, 'x');
                 },
                 ": holds 458753 bytes, a code flash file holds 458752 bytes"},
        Unusable{"folder",
                 [](const std::string& path) {
                   std::filesystem::create_directory(path);
                 },
                 ": not a plain file (a folder, a pipe, a device or the "
                 "like); a code flash file holds 458752 bytes"},
        Unusable{"pipe",
                 [](const std::string& path) { ASSERT_TRUE(MakePipe(path)); },
                 ": not a plain file (a folder, a pipe, a device or the "
                 "like); a code flash file holds 458752 bytes"},
        Unusable{"danglingLink",
                 [](const std::string& path) {
                   std::filesystem::create_symlink("elsewhere", path);
                 },
                 ": not a plain file (a symbolic link is not followed); a "
                 "code flash file holds 458752 bytes"}),
    [](const testing::TestParamInfo<Unusable>& info) {
      return std::string(info.param.name);
    });

TEST(FlashFile, AFileThatCannotBeMadeIsRefused) {
  TempFolder folder;
  const std::string path = folder.path() + "/gone/c.bin";
  try {
    FlashFile(path, SimRegion::kCode).Prepare();
    FAIL() << "a flash file was taken as made";
  } catch (const BenchError& error) {
    EXPECT_EQ(error.what(), path +
                                ": cannot be created (a code flash file "
                                "holds 458752 bytes, erased)");
  }
}

TEST(FlashFile, AFileThatCannotBeWrittenWholeIsNeverPutInPlace) {
  TempFolder folder;
  const std::string path = folder.path() + "/s.bin";
  const FlashFile store(path, SimRegion::kStore);
  std::string message;
  {
    const DiskFullAfter full(151552);
    try {
      store.Prepare();
    } catch (const BenchError& error) {
      message = error.what();
    }
  }
  EXPECT_EQ(message, path +
                         ": cannot be created (a store flash file holds "
                         "262144 bytes, erased)");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(Others(folder.path(), {}), std::vector<std::string>{});
  // With room again it is made whole.
  store.Prepare();
  EXPECT_EQ(std::filesystem::file_size(path), kStoreFlashSize);
  EXPECT_EQ(Others(folder.path(), {"s.bin"}), std::vector<std::string>{});
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

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/private_file.h"
#include "sim/temp_folder.h"
#include "tests/sim/unusual_files.h"

namespace fs = std::filesystem;

namespace {

using Mode = PrivateFile::Mode;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PrivateFile, NewFilesAreTheOwnersAloneAndKeepWhatIsWritten) {
  TempFolder folder;
  const std::string path = folder.path() + "/flash.bin";
  std::unique_ptr<PrivateFile> file = PrivateFile::Open(path, Mode::kCreateNew);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->WriteAt(4, "data", 4));
  EXPECT_TRUE(file->Sync());
  EXPECT_EQ(file->Size(), 8);
  char back[4] = {};
  EXPECT_TRUE(file->ReadAt(4, back, 4));
  EXPECT_EQ(std::string(back, 4), "data");
  EXPECT_FALSE(file->ReadAt(6, back, 4));  // past the end
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  // A new file is never one that is there already.
  EXPECT_EQ(PrivateFile::Open(path, Mode::kCreateNew), nullptr);
}

TEST(PrivateFile, NoModeOpensThroughASymbolicLink) {
  TempFolder folder;
  const std::string target = folder.path() + "/target";
  std::ofstream(target) << "firmware";
  const std::string link = folder.path() + "/link";
  fs::create_symlink(target, link);
  const std::string dangling = folder.path() + "/dangling";
  fs::create_symlink(folder.path() + "/nothing", dangling);
  for (Mode mode : {Mode::kRead, Mode::kReadWrite, Mode::kCreateNew}) {
    SCOPED_TRACE(static_cast<int>(mode));
    EXPECT_EQ(PrivateFile::Open(link, mode), nullptr);
    EXPECT_EQ(PrivateFile::Open(dangling, mode), nullptr);
  }
  EXPECT_EQ(Contents(target), "firmware");
  EXPECT_FALSE(fs::exists(folder.path() + "/nothing"));
  // Nor is a folder a file.
  EXPECT_EQ(PrivateFile::Open(folder.path(), Mode::kRead), nullptr);
}

// Each refusal says what was there, and none waits: a pipe without a
// writer, or a reader for a write, is refused at once.
TEST(PrivateFile, RefusalsSayWhyAndNeverWait) {
  TempFolder folder;
  const std::string file = folder.path() + "/file";
  std::ofstream(file) << "x";
  const std::string pipe = folder.path() + "/pipe";
  ASSERT_TRUE(MakePipe(pipe));
  const std::string socket = folder.path() + "/socket";
  ASSERT_TRUE(MakeSocket(socket));
  const std::string link = folder.path() + "/link";
  fs::create_symlink(file, link);
  using Refusal = PrivateFile::Refusal;
  const struct {
    std::string path;
    Mode mode;
    Refusal refusal;
  } cases[] = {
      {folder.path() + "/missing", Mode::kRead, Refusal::kMissing},
      {folder.path() + "/missing/x", Mode::kCreateNew, Refusal::kMissing},
      {file, Mode::kCreateNew, Refusal::kAlreadyThere},
      {link, Mode::kRead, Refusal::kLink},
      {link, Mode::kReadWrite, Refusal::kLink},
      {folder.path(), Mode::kRead, Refusal::kNotPlainFile},
      {folder.path(), Mode::kReadWrite, Refusal::kNotPlainFile},
      {pipe, Mode::kRead, Refusal::kNotPlainFile},
      {pipe, Mode::kReadWrite, Refusal::kNotPlainFile},
      {socket, Mode::kRead, Refusal::kNotPlainFile},
      {"/dev/null", Mode::kReadWrite, Refusal::kNotPlainFile},
  };
  for (const auto& one : cases) {
    SCOPED_TRACE(one.path + " " + std::to_string(static_cast<int>(one.mode)));
    Refusal refusal = Refusal::kNone;
    EXPECT_EQ(PrivateFile::Open(one.path, one.mode, &refusal), nullptr);
    EXPECT_EQ(refusal, one.refusal);
  }
  Refusal refusal = Refusal::kOther;
  std::unique_ptr<PrivateFile> opened =
      PrivateFile::Open(file, Mode::kReadWrite, &refusal);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(refusal, Refusal::kNone);
  EXPECT_TRUE(opened->WriteAt(1, "y", 1));
  opened.reset();
  if (MakeUnwritable(file)) {
    EXPECT_EQ(PrivateFile::Open(file, Mode::kReadWrite, &refusal), nullptr);
    EXPECT_EQ(refusal, Refusal::kNotAllowed);
    MakeWritable(file);
  }
  EXPECT_EQ(Contents(file), "xy");
}

TEST(PrivateFile, FoldersAreTheOwnersAloneAndMoveOnlyOverEmptyOnes) {
  TempFolder folder;
  const std::string made = folder.path() + "/made";
  ASSERT_TRUE(CreatePrivateFolder(made));
  EXPECT_FALSE(CreatePrivateFolder(made));
  EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all);
  std::ofstream(made + "/bench.json") << "{}";

  const std::string empty = folder.path() + "/empty";
  fs::create_directory(empty);
  EXPECT_TRUE(RenameOver(made, empty));
  EXPECT_EQ(Contents(empty + "/bench.json"), "{}");

  ASSERT_TRUE(CreatePrivateFolder(made));
  EXPECT_FALSE(RenameOver(made, empty));  // holds a bench now
  EXPECT_EQ(Contents(empty + "/bench.json"), "{}");
  EXPECT_TRUE(SyncFolder(empty));
}

TEST(PrivateFile, MoveIntoPlaceNeverReplacesWhatIsThere) {
  TempFolder folder;
  const std::string from = folder.path() + "/new";
  const std::string to = folder.path() + "/flash.bin";
  std::ofstream(from) << "new";
  std::ofstream(to) << "kept";
  EXPECT_FALSE(MoveIntoPlace(from, to));
  EXPECT_EQ(Contents(to), "kept");
  EXPECT_EQ(Contents(from), "new");
  fs::remove(to);
  EXPECT_TRUE(MoveIntoPlace(from, to));
  EXPECT_EQ(Contents(to), "new");
  EXPECT_FALSE(fs::exists(from));
}

}  // namespace

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/file_lock.h"
#include "sim/temp_folder.h"

namespace {

using Outcome = FileLock::Outcome;

Outcome Try(const std::string& path, std::unique_ptr<FileLock>* lock) {
  Outcome outcome = Outcome::kCannotOpen;
  *lock = FileLock::TryTake(path, &outcome);
  EXPECT_EQ(*lock != nullptr, outcome == Outcome::kTaken);
  return outcome;
}

TEST(FileLock, OneHolderAtATimeAlsoWithinAProcess) {
  TempFolder folder;
  const std::string path = folder.path() + "/unit.lock";
  std::unique_ptr<FileLock> first, second;
  ASSERT_EQ(Try(path, &first), Outcome::kTaken);
  EXPECT_EQ(Try(path, &second), Outcome::kHeldElsewhere);
  first.reset();
  EXPECT_EQ(Try(path, &second), Outcome::kTaken);
  EXPECT_EQ(
      std::filesystem::status(path).permissions(),
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(FileLock, AKilledHolderLetsGo) {
  TempFolder folder;
  const std::string path = folder.path() + "/unit.lock";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    Outcome outcome;
    std::unique_ptr<FileLock> lock = FileLock::TryTake(path, &outcome);
    const char taken = lock ? 'y' : 'n';
    if (write(ready[1], &taken, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char taken = 0;
  ASSERT_EQ(read(ready[0], &taken, 1), 1);
  close(ready[0]);
  ASSERT_EQ(taken, 'y');

  std::unique_ptr<FileLock> lock;
  EXPECT_EQ(Try(path, &lock), Outcome::kHeldElsewhere);
  kill(holder, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_EQ(Try(path, &lock), Outcome::kTaken);
}

TEST(FileLock, ALinkInItsPlaceIsNotFollowed) {
  TempFolder folder;
  const std::string target = folder.path() + "/elsewhere";
  const std::string path = folder.path() + "/unit.lock";
  std::filesystem::create_symlink(target, path);
  std::unique_ptr<FileLock> lock;
  EXPECT_EQ(Try(path, &lock), Outcome::kCannotOpen);
  EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace

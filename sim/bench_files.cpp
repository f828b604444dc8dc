#include "sim/bench_files.h"

#include <filesystem>
#include <memory>
#include <random>

#include "platform/private_file.h"
#include "sim/bench.h"

namespace fs = std::filesystem;

namespace {

void SyncFilesIn(const std::string& folder) {
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(folder, error)) {
    std::unique_ptr<PrivateFile> file =
        PrivateFile::Open(entry.path().string(), PrivateFile::Mode::kReadWrite);
    if (!file || !file->Sync()) {
      throw BenchError(entry.path().string() + ": cannot be written");
    }
  }
  if (error) throw BenchError(folder + ": cannot be read");
}

std::string ParentOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

}  // namespace

std::string PathBeside(const std::string& path, const char* kind) {
  static std::random_device random;
  const fs::path place(path);
  const fs::path name = "." + place.filename().string() + "." + kind + "-" +
                        std::to_string(random());
  return (place.parent_path() / name).string();
}

void ReplaceFileContents(const std::string& path, const std::string& contents) {
  std::string temporary;
  std::unique_ptr<PrivateFile> file;
  for (int attempt = 0; attempt < 100 && !file; ++attempt) {
    temporary = PathBeside(path, "new");
    file = PrivateFile::Open(temporary, PrivateFile::Mode::kCreateNew);
  }
  if (!file) throw BenchError(path + ": cannot be written");
  const bool written =
      file->WriteAt(0, contents.data(), contents.size()) && file->Sync();
  file.reset();
  if (!written || !RenameOver(temporary, path)) {
    std::error_code error;
    fs::remove(temporary, error);
    throw BenchError(path + ": cannot be written");
  }
  SyncFolder(ParentOf(path));
}

void CreateBenchFolder(const std::string& folder) {
  std::error_code error;
  if (fs::is_directory(folder, error)) return;
  const std::string parent = ParentOf(folder);
  if (!fs::is_directory(parent, error)) CreateBenchFolder(parent);
  if (!CreatePrivateFolder(folder) && !fs::is_directory(folder, error)) {
    throw BenchError(folder + ": cannot create the bench folder");
  }
}

bool IsMissingOrEmptyFolder(const std::string& folder) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(folder, error);
  if (status.type() == fs::file_type::not_found) return true;
  if (error || status.type() != fs::file_type::directory) return false;
  return fs::is_empty(folder, error) && !error;
}

bool BuildFolderInPlace(const std::string& folder,
                        const std::function<void(const std::string&)>& build) {
  CreateBenchFolder(ParentOf(folder));
  std::string built;
  for (int attempt = 0; attempt < 100 && built.empty(); ++attempt) {
    const std::string candidate = PathBeside(folder, "building");
    if (CreatePrivateFolder(candidate)) built = candidate;
  }
  if (built.empty()) {
    throw BenchError(folder + ": cannot create a folder beside it");
  }
  std::error_code error;
  try {
    build(built);
    SyncFilesIn(built);
  } catch (const BenchError& failure) {
    fs::remove_all(built, error);
    throw BenchError(folder + ": cannot be made (" + failure.what() + ")");
  }
  if (RenameOver(built, folder)) {
    SyncFolder(ParentOf(folder));
    return true;
  }
  fs::remove_all(built, error);
  // Another process's folder got there first: it was whole when it came.
  if (!IsMissingOrEmptyFolder(folder)) return false;
  throw BenchError(folder + ": cannot be put in place");
}

#include "sim/temp_folder.h"

#include <filesystem>
#include <random>

#include "platform/system_text.h"
#include "sim/bench.h"

TempFolder::TempFolder() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) throw BenchError("no temporary folder: " + error.message());
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        base / ("ecuprog-bench-" + std::to_string(random()));
    if (fs::create_directory(candidate, error)) {
      path_ = TextOf(candidate);
      return;
    }
  }
  throw BenchError("cannot create a folder in " + TextOf(base));
}

TempFolder::~TempFolder() {
  std::error_code error;
  std::filesystem::remove_all(PathOf(path_), error);
}

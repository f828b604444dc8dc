#include "tests/e2e/e2e_support.h"

#include <cstdlib>
#include <filesystem>

TempFolder::TempFolder() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "ecuprog-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

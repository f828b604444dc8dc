#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The records of the jobs a test runs stay with the test and go with it,
  // never into the user's own records folder.
  std::string state =
      (std::filesystem::temp_directory_path() / "ecuprog-state-XXXXXX")
          .string();
  if (mkdtemp(state.data()) == nullptr) return 1;
  setenv("XDG_STATE_HOME", state.c_str(), 1);
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(state, ignored);
  return result;
}

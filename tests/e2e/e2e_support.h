// What the end-to-end tests share: a private COM registry and bench per
// test, so tests never see the user's own and can run side by side.
#ifndef ECUPROG_TESTS_E2E_E2E_SUPPORT_H
#define ECUPROG_TESTS_E2E_E2E_SUPPORT_H

#include <string>

#include "tests/e2e/process_runner.h"

/// A fresh folder under the system's temporary folder, removed with it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // ECUPROG_TESTS_E2E_E2E_SUPPORT_H

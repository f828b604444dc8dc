#include "tests/platform/temporary_registry.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

ScopedVariable::ScopedVariable(const char* name, const char* value)
    : name_(name) {
  if (const char* old = getenv(name)) {
    hadPrevious_ = true;
    previous_ = old;
  }
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedVariable::~ScopedVariable() {
  if (hadPrevious_) {
    setenv(name_.c_str(), previous_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

TemporaryRegistry::TemporaryRegistry() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "ecuprog-com-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder");
  }
  root_ = pattern;
  folder_ = root_ + "/registry";
  if (const char* old = getenv("ECUPROG_COM_REGISTRY")) {
    hadPrevious_ = true;
    previous_ = old;
  }
  setenv("ECUPROG_COM_REGISTRY", folder_.c_str(), 1);
}

TemporaryRegistry::~TemporaryRegistry() {
  if (hadPrevious_) {
    setenv("ECUPROG_COM_REGISTRY", previous_.c_str(), 1);
  } else {
    unsetenv("ECUPROG_COM_REGISTRY");
  }
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

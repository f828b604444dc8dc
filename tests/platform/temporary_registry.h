// A registry of local servers that belongs to one test.
#ifndef ECUPROG_TESTS_PLATFORM_TEMPORARY_REGISTRY_H
#define ECUPROG_TESTS_PLATFORM_TEMPORARY_REGISTRY_H

#include <string>

/// Points ECUPROG_COM_REGISTRY at a fresh folder (not yet created) for its
/// lifetime; afterwards the folder is gone and the variable as it was.
class TemporaryRegistry {
 public:
  TemporaryRegistry();
  ~TemporaryRegistry();
  TemporaryRegistry(const TemporaryRegistry&) = delete;
  TemporaryRegistry& operator=(const TemporaryRegistry&) = delete;

  /// The registry folder.
  const std::string& folder() const { return folder_; }
  /// A scratch folder beside it, for the test's own files.
  const std::string& scratch() const { return root_; }

 private:
  std::string root_;
  std::string folder_;
  bool hadPrevious_ = false;
  std::string previous_;
};

/// Sets or (with null) unsets an environment variable for its lifetime.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_;
  bool hadPrevious_ = false;
  std::string previous_;
};

#endif  // ECUPROG_TESTS_PLATFORM_TEMPORARY_REGISTRY_H

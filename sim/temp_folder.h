// A folder of its own under the system's temporary folder, removed with
// everything in it when the object goes: a bench for one test.
#ifndef ECUPROG_SIM_TEMP_FOLDER_H
#define ECUPROG_SIM_TEMP_FOLDER_H

#include <string>

class TempFolder {
 public:
  /// Creates the folder. Throws BenchError when it cannot.
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // ECUPROG_SIM_TEMP_FOLDER_H

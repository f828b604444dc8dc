#include "platform/records_folder.h"

#include <filesystem>
#include <system_error>

#include "platform/private_file.h"
#include "platform/system_text.h"

bool MakeRecordsFolder(const std::string& folder, std::string* why) {
  const std::filesystem::path target = PathOf(folder);
  // The root (a drive, a share) is taken as it is: only folders are made.
  std::filesystem::path made = target.root_path();
  for (const std::filesystem::path& part : target.relative_path()) {
    made /= part;
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::status(made, error);
    if (std::filesystem::is_directory(status)) continue;
    if (std::filesystem::exists(status)) {
      *why = "something that is no folder is where a folder should be: " +
             TextOf(made);
      return false;
    }
    // Another job may make the same folder at the same moment: what counts
    // is that it is a folder afterwards.
    if (!CreatePrivateFolder(TextOf(made)) &&
        !std::filesystem::is_directory(made, error)) {
      *why = "the folder " + TextOf(made) +
             " cannot be made (the user may not, or the disk is full or "
             "read-only)";
      return false;
    }
  }
  return true;
}

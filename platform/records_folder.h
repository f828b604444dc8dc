// Where a user's job records are kept, and who and where the user is.
#ifndef ECUPROG_PLATFORM_RECORDS_FOLDER_H
#define ECUPROG_PLATFORM_RECORDS_FOLDER_H

#include <string>

/// The user's records folder (UTF-8): on Windows
/// "<Local AppData>\ecuprog\records" (the known folder), elsewhere
/// "$XDG_STATE_HOME/ecuprog/records", by default
/// "~/.local/state/ecuprog/records". Empty when the system names no place
/// for it, and then `*why` says so.
std::string RecordsFolder(std::string* why);

/// Makes `RecordsFolder()` and whatever of its path is missing, each folder
/// made here for its owner only. False when it cannot be had as a folder,
/// and then `*why` says why ("a file is where a folder should be: ...").
bool MakeRecordsFolder(const std::string& folder, std::string* why);

/// The computer's name and the user's name, as the system gives them
/// (UTF-8); "" when it gives none.
std::string ComputerName();
std::string UserName();

#endif  // ECUPROG_PLATFORM_RECORDS_FOLDER_H

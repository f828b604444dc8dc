// Writing a bench's files so that none is ever lost or left half written:
// a rewrite goes to a new file beside the old one and takes its place in
// one rename, and a new bench is built whole in a folder beside its place
// before it moves there. Files are the user's alone (0600, folders 0700).
#ifndef ECUPROG_SIM_BENCH_FILES_H
#define ECUPROG_SIM_BENCH_FILES_H

#include <functional>
#include <string>

/// A new name in the folder of `path` for a file or folder on its way
/// there: ".<name>.<kind>-<random number>", which no other process picks.
std::string PathBeside(const std::string& path, const char* kind);

/// Replaces the file at `path` by one holding `contents`, on the disk
/// before it takes the old one's place: a reader sees the old file or the
/// new one, never a part. Throws BenchError naming `path`.
void ReplaceFileContents(const std::string& path, const std::string& contents);

/// Creates `folder` (owner only) and the folders above it when missing.
/// Throws BenchError naming it.
void CreateBenchFolder(const std::string& folder);

/// Whether nothing is at `folder`, or an empty folder is.
bool IsMissingOrEmptyFolder(const std::string& folder);

/// Builds a new folder at `folder`, which must be missing or empty: `build`
/// fills a new folder beside it (the path it is given), whose files are
/// then put on the disk and which then takes the place of `folder` in one
/// rename. When another process put a folder there first, that one stays
/// and this one is dropped. Returns whether this call's folder is the one
/// in place. Throws BenchError naming `folder` when the folder cannot be
/// built or moved; what was built is removed again.
bool BuildFolderInPlace(const std::string& folder,
                        const std::function<void(const std::string&)>& build);

#endif  // ECUPROG_SIM_BENCH_FILES_H

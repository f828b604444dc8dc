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

/// The turn that servers filling one folder in place take (a file in it).
constexpr const char* kFillingLockName = ".bench.filling.lock";

/// Whether `name` is what an unfinished build leaves: a hidden folder or
/// file being built ("*.building-N", "*.new-N") or the filling turn.
bool IsBuildLeftover(const std::string& name);

/// Whether nothing is at `folder`, or a folder holding nothing but build
/// leftovers.
bool IsMissingOrEmptyFolder(const std::string& folder);

/// `folder` without the slashes it may end in ("/" stays).
std::string WithoutTrailingSlashes(const std::string& folder);

/// Removes the build leftovers of `name` in `folder` (".<name>.*") that
/// were last written a minute or more before this process started.
void RemoveOldLeftovers(const std::string& folder, const std::string& name);

/// Builds a new folder at `folder`, which must be missing or empty: `build`
/// fills a new folder beside it (the path it is given), whose files are
/// then put on the disk and which then takes the place of `folder` in one
/// rename. When another process put a folder there first, that one stays
/// and this one is dropped. Where no folder can be made beside it, or none
/// can take its place (a mount point), an empty folder there is filled
/// where it stands, each file moved in whole and bench.json last. Returns
/// whether this call's bench is the one in place. Throws BenchError naming
/// `folder` when the folder cannot be built or moved; what was built is
/// removed again. Old build leftovers beside it are removed first.
bool BuildFolderInPlace(const std::string& folder,
                        const std::function<void(const std::string&)>& build);

#endif  // ECUPROG_SIM_BENCH_FILES_H

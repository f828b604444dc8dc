// Writing a bench's files so that none is ever lost or left half written:
// a rewrite goes to a new file beside the old one and takes its place in
// one rename, and a new bench is built whole in a folder beside its place
// before it moves there. Files are the user's alone (0600, folders 0700).
#ifndef ECUPROG_SIM_BENCH_FILES_H
#define ECUPROG_SIM_BENCH_FILES_H

#include <functional>
#include <string>

#include "platform/windows_api.h"

/// A new name in the folder of `path` for a file or folder on its way
/// there: ".<name>.<kind>-<random number>", which no other process picks.
std::string PathBeside(const std::string& path, const char* kind);

/// The system calls that move a bench's files and folders into place
/// (platform/private_file.h), and the pause between two tries of a move
/// that was blocked. A seam so that tests can block moves as a virus
/// scanner does, which the test's own system may never do.
struct BenchMoves {
  std::function<bool(const std::string&, const std::string&)> renameOver;
  std::function<bool(const std::string&, const std::string&)> moveIntoPlace;
  std::function<bool()> lastMoveWasBlocked;
  std::function<void(DWORD)> pause;
};

/// The system's own moves.
BenchMoves SystemBenchMoves();

/// Replaces the moves every bench file operation uses; returns those it
/// replaced. For tests, while no other thread moves bench files.
BenchMoves SetBenchMoves(BenchMoves moves);

/// How long a move that another program blocks is tried again, and how
/// often: a virus scanner holds a new file for a moment, not for good.
constexpr DWORD kBlockedMoveWaitMs = 5000;
constexpr DWORD kBlockedMoveRetryMs = 100;

/// RenameOver, tried again while it is blocked, for up to
/// kBlockedMoveWaitMs. False when it could not be done.
bool RenameOverWhenFree(const std::string& from, const std::string& to);

/// MoveIntoPlace, tried again while it is blocked, for up to
/// kBlockedMoveWaitMs. False when it could not be done (`from` is still
/// there).
bool MoveIntoPlaceWhenFree(const std::string& from, const std::string& to);

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

/// Removes the file temporaries (".<file>.new-N") in the bench `folder`
/// that a server or --make-bench left when it ended while making a file,
/// under the same rule: one last written a minute or more before this
/// process started is no live writer's, since a writer writes it whole at
/// once and moves it into place at once. Anything else is left alone.
void RemoveOldFileTemporaries(const std::string& folder);

/// Builds a new folder at `folder`, which must be missing or empty: `build`
/// fills a new folder beside it (the path it is given), whose files are
/// then put on the disk and which then takes the place of `folder` in one
/// rename. When another process put a folder there first, that one stays
/// and this one is dropped. Where no folder can be made beside it, or none
/// can take its place (a mount point, or a file in it held by a virus
/// scanner beyond kBlockedMoveWaitMs), the folder is made where it is
/// missing and filled where it stands, each file moved in whole and
/// bench.json last. Returns
/// whether this call's bench is the one in place. Throws BenchError naming
/// `folder` when the folder cannot be built or moved; what was built is
/// removed again. Old build leftovers beside it are removed first.
bool BuildFolderInPlace(const std::string& folder,
                        const std::function<void(const std::string&)>& build);

#endif  // ECUPROG_SIM_BENCH_FILES_H

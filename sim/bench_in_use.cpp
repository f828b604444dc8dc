#include "sim/bench_in_use.h"

#include <filesystem>

#include "platform/system_text.h"
#include "sim/bench.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kHolderPrefix[] = ".bench.serving-";
constexpr const char kLockSuffix[] = ".lock";

std::string HolderPath(const std::string& folder, DWORD process) {
  return TextOf(PathOf(folder) / PathOf(std::string(kHolderPrefix) +
                                        std::to_string(process) + kLockSuffix));
}

// The process id in a holder's lock name; empty for any other name.
std::string HolderProcess(const std::string& name) {
  const size_t prefix = sizeof kHolderPrefix - 1;
  const size_t suffix = sizeof kLockSuffix - 1;
  if (name.size() <= prefix + suffix || name.rfind(kHolderPrefix, 0) != 0 ||
      name.compare(name.size() - suffix, suffix, kLockSuffix) != 0) {
    return "";
  }
  const std::string digits = name.substr(prefix, name.size() - prefix - suffix);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return "";
  return digits;
}

// The holders' lock files in `folder`: name -> process id.
std::vector<std::pair<std::string, std::string>> Holders(
    const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> holders;
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(PathOf(folder), error)) {
    const std::string name = TextOf(entry.path().filename());
    const std::string process = HolderProcess(name);
    if (!process.empty()) holders.emplace_back(name, process);
  }
  return holders;
}

}  // namespace

bool IsServingLockName(const std::string& name) {
  return name == kServingLockName || !HolderProcess(name).empty();
}

std::unique_ptr<BenchInUse> BenchInUse::ForServing(const std::string& folder) {
  std::unique_ptr<BenchInUse> hold(new BenchInUse());
  // Only for naming this process in a refusal: a hold without it still
  // keeps --make-bench out.
  FileLock::Outcome outcome = FileLock::Outcome::kCannotOpen;
  hold->ownPath_ = HolderPath(folder, GetCurrentProcessId());
  hold->own_ = FileLock::TryTake(hold->ownPath_, &outcome);
  const std::string path = TextOf(PathOf(folder) / PathOf(kServingLockName));
  for (DWORD waited = 0;; waited += 100) {
    hold->bench_ = FileLock::TryTakeShared(path, &outcome);
    if (hold->bench_) return hold;
    if (outcome != FileLock::Outcome::kHeldElsewhere) {
      throw BenchError(path +
                       ": the bench's lock cannot be taken (not a plain "
                       "file, or the folder cannot be written)");
    }
    if (waited >= kBenchBusyWaitMs) {
      throw BenchError(folder +
                       ": the bench is being made anew "
                       "(ecuprog-sim --make-bench) for more than " +
                       std::to_string(kBenchBusyWaitMs / 1000) +
                       " s; run the job again once it is done");
    }
    Sleep(100);
  }
}

std::unique_ptr<BenchInUse> BenchInUse::ForRemaking(const std::string& folder) {
  std::unique_ptr<BenchInUse> hold(new BenchInUse());
  std::error_code error;
  if (!fs::is_directory(PathOf(folder), error)) return hold;
  const std::string path = TextOf(PathOf(folder) / PathOf(kServingLockName));
  FileLock::Outcome outcome = FileLock::Outcome::kCannotOpen;
  hold->bench_ = FileLock::TryTake(path, &outcome);
  if (outcome == FileLock::Outcome::kHeldElsewhere) {
    std::string processes;
    for (const auto& [name, process] : Holders(folder)) {
      FileLock::Outcome held = FileLock::Outcome::kCannotOpen;
      if (FileLock::TryTake(TextOf(PathOf(folder) / PathOf(name)), &held) ||
          held != FileLock::Outcome::kHeldElsewhere) {
        continue;
      }
      processes += (processes.empty() ? "" : ", ") + process;
    }
    throw BenchError(
        folder + ": a job is being served from this bench" +
        (processes.empty() ? "" : " (ecuprog-sim, process " + processes + ")") +
        "; the bench is left as it is: run --make-bench again once the "
        "job has ended");
  }
  if (!hold->bench_) {
    throw BenchError(path +
                     ": the bench's lock cannot be taken (not a plain file, "
                     "or the folder cannot be written); the bench is left as "
                     "it is");
  }
  // No simulator serves now: a holder's lock still there is one a killed
  // simulator left. One being taken right now is kept.
  for (const auto& [name, process] : Holders(folder)) {
    const std::string holder = TextOf(PathOf(folder) / PathOf(name));
    FileLock::Outcome held = FileLock::Outcome::kCannotOpen;
    // Removed while held, so that no simulator starting now takes it first.
    if (const auto lock = FileLock::TryTake(holder, &held)) {
      fs::remove(PathOf(holder), error);
    }
  }
  return hold;
}

BenchInUse::~BenchInUse() {
  if (!own_) return;
  own_.reset();
  std::error_code error;
  fs::remove(PathOf(ownPath_), error);
}

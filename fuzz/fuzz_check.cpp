#include "fuzz/fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

void FuzzFailed(const char* file, int line, const char* condition,
                const std::string& what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", file, line, condition,
               what.c_str());
  std::abort();
}

void ShowOutput(const std::string& output) {
  static const bool show = std::getenv("ECUPROG_FUZZ_SHOW") != nullptr;
  if (show) std::fprintf(stderr, "----\n%s\n", output.c_str());
}

std::vector<uint8_t> ReadFileOrDie(const char* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::abort();
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>());
}

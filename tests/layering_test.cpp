// The folders' order as the README gives it, held against the sources'
// includes: a core folder includes only itself and the folders below it,
// and no two folders anywhere in the tree include each other. An include
// that runs upward would let the bottom of the program call its top.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kSource = ECUPROG_SOURCE_DIR;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The core folders from top to bottom: the list items of the README's
// "## Source layout" that begin with a folder.
std::vector<std::string> ReadmeOrder() {
  std::istringstream readme(ReadText(kSource / "README.md"));
  static const std::regex item("^- `([a-z_]+)/`:");
  std::vector<std::string> order;
  bool inSection = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("## ", 0) == 0) inSection = line == "## Source layout";
    std::smatch match;
    if (inSection && std::regex_search(line, match, item)) {
      order.push_back(match[1]);
    }
  }
  return order;
}

struct Include {
  std::string file;  // relative to the source tree
  std::string folder;
};

// Every `#include "folder/..."` of the tree, by the including file's top
// folder; build folders are not sources.
std::map<std::string, std::vector<Include>> IncludesByFolder() {
  static const std::regex include("^#include \"([a-z_0-9]+)/");
  std::map<std::string, std::vector<Include>> found;
  for (const auto& top : fs::directory_iterator(kSource)) {
    const std::string name = top.path().filename().string();
    if (!top.is_directory() || name[0] == '.' || name.rfind("build", 0) == 0) {
      continue;
    }
    for (const auto& entry : fs::recursive_directory_iterator(top.path())) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".cpp" && extension != ".h" && extension != ".c") {
        continue;
      }
      std::istringstream text(ReadText(entry.path()));
      for (std::string line; std::getline(text, line);) {
        std::smatch match;
        if (std::regex_search(line, match, include) && match[1] != name) {
          found[name].push_back(
              {fs::relative(entry.path(), kSource).string(), match[1]});
        }
      }
    }
  }
  return found;
}

TEST(LayeringTest, CoreFoldersIncludeOnlyFoldersBelowThem) {
  const std::vector<std::string> order = ReadmeOrder();
  ASSERT_GE(order.size(), 6u) << "README.md lists the core folders";
  const auto includes = IncludesByFolder();
  for (size_t level = 0; level < order.size(); ++level) {
    const std::set<std::string> below(order.begin() + level + 1, order.end());
    auto it = includes.find(order[level]);
    if (it == includes.end()) continue;
    for (const Include& include : it->second) {
      EXPECT_TRUE(below.count(include.folder))
          << include.file << " includes " << include.folder
          << "/, which is not below " << order[level] << "/";
    }
  }
}

TEST(LayeringTest, NoTwoFoldersIncludeEachOther) {
  const auto includes = IncludesByFolder();
  std::set<std::pair<std::string, std::string>> pairs;
  for (const auto& [folder, list] : includes) {
    for (const Include& include : list) pairs.insert({folder, include.folder});
  }
  for (const auto& [from, to] : pairs) {
    EXPECT_FALSE(from < to && pairs.count({to, from}))
        << from << "/ and " << to << "/ include each other";
  }
}

}  // namespace

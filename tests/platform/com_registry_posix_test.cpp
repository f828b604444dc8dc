#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com_registration.h"
#include "platform/posix/com_registry.h"
#include "tests/platform/temporary_registry.h"

namespace {

// {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}
const CLSID kClass = {0x0f1e2d3c,
                      0x4b5a,
                      0x6978,
                      {0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0}};

std::string FileText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(ComRegistryTest, EntryIsNamedByClassAndHoldsCommand) {
  TemporaryRegistry registry;
  ASSERT_EQ(RegisterLocalServer(kClass, "/opt/sim --quiet"), S_OK);
  const std::string entry =
      registry.folder() + "/{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  EXPECT_EQ(FileText(entry), "/opt/sim --quiet\n");
  struct stat folder {};
  ASSERT_EQ(stat(registry.folder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);

  std::string command;
  ASSERT_TRUE(com_posix::LookupLocalServer(kClass, &command));
  EXPECT_EQ(command, "/opt/sim --quiet");

  // A second registration replaces the first.
  ASSERT_EQ(RegisterLocalServer(kClass, "/opt/other"), S_OK);
  ASSERT_TRUE(com_posix::LookupLocalServer(kClass, &command));
  EXPECT_EQ(command, "/opt/other");

  EXPECT_EQ(UnregisterLocalServer(kClass), S_OK);
  EXPECT_FALSE(com_posix::LookupLocalServer(kClass, &command));
  EXPECT_EQ(UnregisterLocalServer(kClass), S_FALSE);
}

TEST(ComRegistryTest, RefusesEmptyCommandsAndUnwritableFolders) {
  TemporaryRegistry registry;
  EXPECT_EQ(RegisterLocalServer(kClass, nullptr), E_INVALIDARG);
  EXPECT_EQ(RegisterLocalServer(kClass, ""), E_INVALIDARG);
  EXPECT_EQ(RegisterLocalServer(kClass, "   "), E_INVALIDARG);
  ScopedVariable nowhere("ECUPROG_COM_REGISTRY", "/proc/ecuprog/registry");
  EXPECT_TRUE(FAILED(RegisterLocalServer(kClass, "/opt/sim")));
}

struct FolderCase {
  const char* registry;
  const char* config;
  const char* home;
  const char* expected;
};

class RegistryFolderTest : public testing::TestWithParam<FolderCase> {};

TEST_P(RegistryFolderTest, FollowsTheEnvironment) {
  ScopedVariable registry("ECUPROG_COM_REGISTRY", GetParam().registry);
  ScopedVariable config("XDG_CONFIG_HOME", GetParam().config);
  ScopedVariable home("HOME", GetParam().home);
  EXPECT_EQ(com_posix::RegistryFolder(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Locations, RegistryFolderTest,
    testing::Values(
        FolderCase{"/bench/a", "/cfg", "/home/u", "/bench/a"},
        FolderCase{nullptr, "/cfg", "/home/u", "/cfg/ecuprog/com-registry"},
        FolderCase{"", "", "/home/u", "/home/u/.config/ecuprog/com-registry"},
        FolderCase{nullptr, nullptr, nullptr, ""}));

struct SplitCase {
  const char* command;
  std::vector<std::string> words;
};

class SplitCommandTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandTest, SplitsAtBlanksOutsideQuotes) {
  EXPECT_EQ(com_posix::SplitCommand(GetParam().command), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SplitCommandTest,
    testing::Values(SplitCase{"/opt/sim", {"/opt/sim"}},
                    SplitCase{"  /opt/sim  -a\t-b ", {"/opt/sim", "-a", "-b"}},
                    SplitCase{"\"/opt/my sim/server\" --x",
                              {"/opt/my sim/server", "--x"}},
                    SplitCase{"/opt/sim \"\"", {"/opt/sim", ""}},
                    SplitCase{"\"/open quote", {"/open quote"}},
                    SplitCase{"", {}}));

TEST(ComRegistryTest, GuidTextIsBracedUpperCase) {
  EXPECT_EQ(com_posix::GuidText(kClass),
            "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
}

}  // namespace

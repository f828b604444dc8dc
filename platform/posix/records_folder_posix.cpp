#include <unistd.h>

#include <vector>

#include "platform/records_folder.h"
#include "platform/system_text.h"

std::string RecordsFolder(std::string* why) {
  // A relative XDG_STATE_HOME is to be ignored, as the base directory rules
  // say of every such variable.
  std::optional<std::string> state = EnvironmentText("XDG_STATE_HOME");
  if (state && !state->empty() && state->front() == '/') {
    return *state + "/ecuprog/records";
  }
  std::optional<std::string> home = EnvironmentText("HOME");
  // The programs are linked statically, where the user database cannot be
  // asked: HOME is where the user's folders are.
  if (!home || home->empty() || home->front() != '/') {
    *why = "neither XDG_STATE_HOME nor HOME names a folder";
    return "";
  }
  return *home + "/.local/state/ecuprog/records";
}

std::string ComputerName() {
  std::vector<char> name(256, '\0');
  if (gethostname(name.data(), name.size() - 1) != 0) return "";
  return name.data();
}

std::string UserName() {
  for (const char* name : {"USER", "LOGNAME"}) {
    std::optional<std::string> user = EnvironmentText(name);
    if (user && !user->empty()) return *user;
  }
  return "uid " + std::to_string(geteuid());
}

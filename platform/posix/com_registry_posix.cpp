// Local-server registrations on POSIX hosts: one file per class in a folder
// of the user's, named by the class identifier and holding the command that
// starts the server, as LocalServer32 does in the Windows registry.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/com_registration.h"
#include "platform/posix/com_registry.h"

namespace com_posix {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

HRESULT FromErrno(int error) {
  return error == EACCES || error == EPERM || error == EROFS ? E_ACCESSDENIED
                                                             : E_FAIL;
}

// Creates the folder and its missing parents; new folders are the user's
// alone.
HRESULT MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return FromErrno(errno);
    }
    if (slash == std::string::npos) return S_OK;
  }
}

// Far more than any command line an entry needs.
constexpr off_t kMaxEntryBytes = 64 * 1024;

std::string EntryPath(const std::string& folder, REFCLSID clsid) {
  return folder + "/" + GuidText(clsid);
}

}  // namespace

std::string RegistryFolder() {
  std::string folder = Environment("ECUPROG_COM_REGISTRY");
  if (!folder.empty()) return folder;
  std::string config = Environment("XDG_CONFIG_HOME");
  if (config.empty()) {
    const std::string home = Environment("HOME");
    if (home.empty()) return std::string();
    config = home + "/.config";
  }
  return config + "/ecuprog/com-registry";
}

std::string GuidText(REFGUID guid) {
  char text[39];
  std::snprintf(text, sizeof text,
                "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                guid.Data1, guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

bool LookupLocalServer(REFCLSID clsid, std::string* command) {
  const std::string folder = RegistryFolder();
  if (folder.empty()) return false;
  // Opened without waiting, and read only when it is a plain file of a
  // sensible size: an entry that is a FIFO or a device would otherwise hold
  // the client before its server is even started.
  const int fd = open(EntryPath(folder, clsid).c_str(),
                      O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat entry {};
  if (fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode) ||
      entry.st_size > kMaxEntryBytes) {
    close(fd);
    return false;
  }
  std::string text;
  char buffer[512];
  ssize_t got;
  while (text.size() <= kMaxEntryBytes &&
         (got = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  if (text.size() > kMaxEntryBytes) return false;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' ||
                           text.back() == ' ' || text.back() == '\t')) {
    text.pop_back();
  }
  if (text.empty()) return false;
  *command = text;
  return true;
}

bool IsStartableProgram(const std::string& program) {
  // Never looked up through PATH: what runs is what the entry names.
  if (program.empty() || program[0] != '/') return false;
  struct stat file {};
  return stat(program.c_str(), &file) == 0 && S_ISREG(file.st_mode) &&
         access(program.c_str(), X_OK) == 0;
}

std::vector<std::string> SplitCommand(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (char c : command) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

}  // namespace com_posix

HRESULT RegisterLocalServer(REFCLSID clsid, const char* command) {
  if (command == nullptr || com_posix::SplitCommand(command).empty()) {
    return E_INVALIDARG;
  }
  const std::string folder = com_posix::RegistryFolder();
  if (folder.empty()) return E_FAIL;
  HRESULT hr = com_posix::MakeFolders(folder);
  if (FAILED(hr)) return hr;

  // Written aside and renamed, so that a client never reads half an entry.
  const std::string path = com_posix::EntryPath(folder, clsid);
  const std::string temporary = path + ".new";
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return com_posix::FromErrno(errno);
  const std::string text = std::string(command) + "\n";
  const bool written =
      write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int writeError = errno;
  if (close(fd) != 0 || !written) {
    unlink(temporary.c_str());
    return com_posix::FromErrno(writeError);
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    hr = com_posix::FromErrno(errno);
    unlink(temporary.c_str());
    return hr;
  }
  return S_OK;
}

HRESULT UnregisterLocalServer(REFCLSID clsid) {
  const std::string folder = com_posix::RegistryFolder();
  if (folder.empty()) return S_FALSE;
  if (unlink(com_posix::EntryPath(folder, clsid).c_str()) == 0) return S_OK;
  return errno == ENOENT ? S_FALSE : com_posix::FromErrno(errno);
}

// The registry folder is read by every process of its user alike.
bool ComReadsOwnRegistrations(std::string* /*why*/) { return true; }

// One kind of program: the server's interfaces cross the same way whatever
// the client is.
std::vector<ClientKind> ClientKinds() { return {{"programs", 0}}; }

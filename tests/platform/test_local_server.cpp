// A local server for the tests: it echoes what reaches it (see
// echo_server.h) and can misbehave at start on request.
//
//   --exit-at-once     ends before answering its client
//   --never-answer     holds the channel but never answers
//   --child-pid-file=F with --never-answer: first starts a child that
//                      sleeps as long, and writes its process id to F
//   --no-class         registers no class object
//   --exit-marker=F    writes "<exit code> <live objects>" to F at the end
//   --pid-file=F       writes its process id to F at the start
//   --announce-oversized  answers activation with the start of a message
//                      of 4 GiB, then holds the channel without sending it
//   --silent=CALL      CALL (AcquireGroup, StartErase, PollErase,
//                      ProgramRegion, ResetDevice, GetVersion) answers S_OK
//                      and writes none of its numbers
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/local_server.h"
#include "server/unused_entries.h"
#include "tests/platform/echo_server.h"

namespace {

int g_liveObjects = 0;

// The call that answers S_OK without writing its numbers.
std::string g_silent;
bool Silent(const char* call) { return g_silent == call; }

// The last arguments that reached the server, as an array.
struct Record {
  bool null = true;
  VARTYPE vt = VT_UI1;
  LONG lower = 0;
  std::vector<BYTE> bytes;
};
Record g_last;

void RecordArray(SAFEARRAY* array) {
  g_last = Record{};
  if (array == nullptr) return;
  g_last.null = false;
  SafeArrayGetVartype(array, &g_last.vt);
  g_last.lower = array->rgsabound[0].lLbound;
  const auto* bytes = static_cast<const BYTE*>(array->pvData);
  g_last.bytes.assign(
      bytes, bytes + array->rgsabound[0].cElements * array->cbElements);
}

void RecordBytes(const void* data, size_t size) {
  g_last = Record{};
  g_last.null = false;
  const auto* bytes = static_cast<const BYTE*>(data);
  g_last.bytes.assign(bytes, bytes + size);
}

template <typename Interface>
class Object : public Interface {
 public:
  Object() { ++g_liveObjects; }
  virtual ~Object() { --g_liveObjects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (riid == IID_IUnknown || riid == Own()) {
      AddRef();
      *object = static_cast<Interface*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual const IID& Own() const = 0;

 private:
  ULONG references_ = 1;
};

class EchoProgramming final : public Object<ProgrammingInterfaceUnused> {
 public:
  HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG groupKey, REFGUID groupId,
                                         GroupTicket* ticket,
                                         USHORT* status) override {
    BYTE recorded[4 + sizeof(GUID)];
    std::memcpy(recorded, &groupKey, 4);
    std::memcpy(recorded + 4, &groupId, sizeof(GUID));
    RecordBytes(recorded, sizeof recorded);
    if (Silent("AcquireGroup")) return S_OK;
    const auto* id = reinterpret_cast<const BYTE*>(&groupId);
    for (size_t i = 0; i < sizeof ticket->bytes; ++i) {
      ticket->bytes[i] = id[i] ^ echo_server::kTicketMask;
    }
    *status = static_cast<USHORT>(groupKey);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE StartErase(ULONG startAddress, ULONG length,
                                       USHORT* status) override {
    const ULONG recorded[2] = {startAddress, length};
    RecordBytes(recorded, sizeof recorded);
    if (Silent("StartErase")) return S_OK;
    *status = kStatusBusy;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PollErase(USHORT* status) override {
    if (Silent("PollErase")) return S_OK;
    *status = kStatusDone;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ProgramRegion(ULONG, ULONG length, SAFEARRAY* data,
                                          USHORT* status) override {
    RecordArray(data);
    if (Silent("ProgramRegion")) return S_OK;
    *status = data != nullptr && data->rgsabound[0].cElements == length ? 0 : 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ResetDevice(USHORT* status) override {
    if (Silent("ResetDevice")) return S_OK;
    *status = echo_server::kResetStatus;
    return echo_server::kResetResult;
  }

 protected:
  const IID& Own() const override { return IID_ProgrammingInterface; }
};

class EchoDevice final : public Object<DeviceInterfaceUnused> {
 public:
  HRESULT STDMETHODCALLTYPE
  GetCodeProgrammer(USHORT unitKeyA, USHORT identityId,
                    ProgrammingInterface** code) override {
    return Give(unitKeyA, identityId, code);
  }
  HRESULT STDMETHODCALLTYPE
  GetStoreProgrammer(USHORT unitKeyA, USHORT identityId,
                     ProgrammingInterface** store) override {
    return Give(unitKeyA, identityId, store);
  }

 protected:
  const IID& Own() const override { return IID_DeviceInterface; }

 private:
  static HRESULT Give(USHORT unitKeyA, USHORT identityId,
                      ProgrammingInterface** out) {
    const USHORT recorded[2] = {unitKeyA, identityId};
    RecordBytes(recorded, sizeof recorded);
    *out = identityId == echo_server::kNoIdentity ? nullptr
                                                  : new EchoProgramming();
    return S_OK;
  }
};

class EchoServer final : public Object<ProgrammingServerUnused> {
 public:
  HRESULT STDMETHODCALLTYPE GetIdentities(USHORT vartype, USHORT count,
                                          LONG lower, LONG shape, LONG result,
                                          SAFEARRAY** identities) override {
    if (shape == echo_server::kNullArray) return result;
    SAFEARRAYBOUND bound{count, lower};
    *identities = SafeArrayCreate(vartype, 1, &bound);
    if (*identities == nullptr) return E_OUTOFMEMORY;
    auto* bytes = static_cast<BYTE*>((*identities)->pvData);
    for (size_t i = 0; i < size_t{count} * (*identities)->cbElements; ++i) {
      bytes[i] = echo_server::Pattern(i);
    }
    return result;
  }
  HRESULT STDMETHODCALLTYPE GetAccessName(USHORT level, BSTR* name) override {
    switch (level) {
      case echo_server::kEmptyName:
        *name = SysAllocString(u"");
        return S_OK;
      case echo_server::kWideName:
        *name = SysAllocString(echo_server::WideName());
        return S_OK;
      case echo_server::kFailedName:
        *name = SysAllocString(u"failed");
        return E_FAIL;
      default:
        return S_OK;
    }
  }
  HRESULT STDMETHODCALLTYPE GetIdentityName(USHORT group, USHORT id,
                                            BSTR* name) override {
    *name = SysAllocString(u"identity");
    return static_cast<HRESULT>((ULONG{group} << 16) | id);
  }
  HRESULT STDMETHODCALLTYPE SetProfile(SAFEARRAY* profile) override {
    // An array handed in arrives unlocked, and stays the caller's.
    if (profile != nullptr && profile->cLocks != 0) return E_UNEXPECTED;
    RecordArray(profile);
    return profile == nullptr ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE DetectDevices(SAFEARRAY** devices) override {
    if (g_last.null) return S_OK;
    const size_t size = g_last.vt == VT_UI2 || g_last.vt == VT_I2   ? 2
                        : g_last.vt == VT_UI4 || g_last.vt == VT_I4 ? 4
                                                                    : 1;
    SAFEARRAYBOUND bound{static_cast<ULONG>(g_last.bytes.size() / size),
                         g_last.lower};
    *devices = SafeArrayCreate(g_last.vt, 1, &bound);
    if (*devices == nullptr) return E_OUTOFMEMORY;
    if (!g_last.bytes.empty()) {
      std::memcpy((*devices)->pvData, g_last.bytes.data(), g_last.bytes.size());
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OpenDevice(ULONG unitAddressA,
                                       UnitAddressTail addressTail,
                                       DeviceInterface** device) override {
    BYTE recorded[4 + sizeof addressTail];
    std::memcpy(recorded, &unitAddressA, 4);
    std::memcpy(recorded + 4, &addressTail, sizeof addressTail);
    RecordBytes(recorded, sizeof recorded);
    switch (unitAddressA) {
      case echo_server::kNoUnit:
        return S_OK;
      case echo_server::kRefusedUnit:
        return E_FAIL;
      case echo_server::kDyingUnit:
        _exit(3);
      default:
        *device = new EchoDevice();
        return S_OK;
    }
  }
  HRESULT STDMETHODCALLTYPE GetVersion(USHORT* major, USHORT* minor) override {
    if (Silent("GetVersion")) return S_OK;
    *major = static_cast<USHORT>(g_liveObjects);
    *minor = echo_server::kMinorVersion;
    return S_OK;
  }

 protected:
  const IID& Own() const override { return IID_ProgrammingServer; }
};

class EchoFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Lives as long as the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** object) override {
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* server = new EchoServer();
    const HRESULT hr = server->QueryInterface(riid, object);
    server->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// A channel peer that announces one segment of 2^29 words (4 GiB) and then
// sends nothing more, until its client hangs up or ten seconds pass.
int AnnounceOversized() {
  const char* channel = std::getenv("ECUPROG_COM_CHANNEL");
  const int fd = channel != nullptr ? std::atoi(channel) : -1;
  if (fd < 0) return 2;
  const uint32_t header[2] = {0, uint32_t{1} << 29};  // one segment, size
  if (write(fd, header, sizeof header) != sizeof header) return 1;
  pollfd hangUp{fd, POLLIN, 0};
  char scratch[4096];
  while (poll(&hangUp, 1, 10000) > 0 && read(fd, scratch, sizeof scratch) > 0) {
  }
  return 0;
}

std::string Option(int argc, char** argv, const char* name) {
  const size_t length = std::strlen(name);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], name, length) == 0) return argv[i] + length;
  }
  return std::string();
}

bool Flag(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return true;
  }
  return false;
}

void WriteFile(const std::string& path, const std::string& text) {
  if (path.empty()) return;
  const std::string temporary = path + ".new";
  if (std::FILE* file = std::fopen(temporary.c_str(), "w")) {
    std::fputs(text.c_str(), file);
    std::fclose(file);
    std::rename(temporary.c_str(), path.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  WriteFile(Option(argc, argv, "--pid-file="), std::to_string(getpid()));
  g_silent = Option(argc, argv, "--silent=");
  if (Flag(argc, argv, "--exit-at-once")) return 0;
  if (Flag(argc, argv, "--announce-oversized")) return AnnounceOversized();
  if (Flag(argc, argv, "--never-answer")) {
    const std::string childPidFile = Option(argc, argv, "--child-pid-file=");
    if (!childPidFile.empty()) {
      const pid_t child = fork();
      if (child == 0) {
        sleep(60);
        _exit(0);
      }
      WriteFile(childPidFile, std::to_string(child));
    }
    sleep(60);
    return 0;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  static EchoFactory factory;
  DWORD cookie = 0;
  if (!Flag(argc, argv, "--no-class")) {
    CoRegisterClassObject(echo_server::kClass, &factory, CLSCTX_LOCAL_SERVER,
                          REGCLS_SINGLEUSE, &cookie);
  }
  const int code = ServeLocalServer(argc, argv);
  if (cookie != 0) CoRevokeClassObject(cookie);
  CoUninitialize();
  WriteFile(Option(argc, argv, "--exit-marker="),
            std::to_string(code) + " " + std::to_string(g_liveObjects));
  return code;
}

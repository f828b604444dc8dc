#include "sim/server_check.h"

#include <cstdio>

#include "platform/com_registration.h"
#include "server/server_interfaces.h"
#include "sim/sim_arrays.h"

namespace {

std::string Code(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX",
                static_cast<unsigned long>(static_cast<ULONG>(result)));
  return text;
}

std::string Narrow(BSTR text) {
  if (text == nullptr) return "";
  return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text),
                                    SysStringLen(text)));
}

std::string WhyNothing(HRESULT result) {
  std::string why = "no server (" + Code(result);
  if (result == REGDB_E_CLASSNOTREG) why += ", the class is not registered";
  if (result == CO_E_SERVER_EXEC_FAILURE) {
    why += ", the registered server did not start or did not answer";
  }
  return why + ")";
}

ServerReached Reach(const ClientKind& kind) {
  ServerReached reached;
  reached.programs = kind.programs;
  SimulatedServer* simulator = nullptr;
  const HRESULT created = CoCreateInstance(
      CLSID_ProgrammingServer, nullptr, CLSCTX_LOCAL_SERVER | kind.context,
      IID_SimulatedServer, reinterpret_cast<void**>(&simulator));
  if (created == E_NOINTERFACE) {
    reached.answer =
        "a server that is not the simulator: a real programming server may "
        "answer them";
    return reached;
  }
  if (FAILED(created) || simulator == nullptr) {
    reached.answer = WhyNothing(FAILED(created) ? created : E_POINTER);
    return reached;
  }
  BSTR path = nullptr;
  LONG bits = 0;
  const HRESULT told = simulator->GetSimulator(&path, &bits);
  simulator->Release();
  if (FAILED(told)) {
    SysFreeString(path);
    reached.answer =
        "a server that does not say what it is (" + Code(told) + ")";
    return reached;
  }
  reached.simulator = true;
  reached.answer =
      "the simulator " + Narrow(path) + " (" + std::to_string(bits) + "-bit)";
  SysFreeString(path);
  return reached;
}

}  // namespace

std::vector<ServerReached> CheckServerReached() {
  std::vector<ServerReached> reached;
  for (const ClientKind& kind : ClientKinds()) reached.push_back(Reach(kind));
  return reached;
}

bool EveryProgramReachesSimulator(const std::vector<ServerReached>& reached) {
  if (reached.empty()) return false;
  for (const ServerReached& one : reached) {
    if (!one.simulator) return false;
  }
  return true;
}

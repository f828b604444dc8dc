// ecuprog-sim: the simulated programming server as a COM local server.
//
//   ecuprog-sim -Embedding        serve the client that started it (COM)
//   ecuprog-sim --register        make this executable the local server of
//                                 the programming server's class
//   ecuprog-sim --unregister      undo --register
//   ecuprog-sim --check           ask COM what programs of each bitness
//                                 reach when they create the server's
//                                 class; 0 only when every one reaches
//                                 the simulator (changes nothing)
//   ecuprog-sim --register-marshalling
//                                 register the marshalling alone, for a
//                                 server that runs elsewhere (no local
//                                 server); --unregister undoes it
//   ecuprog-sim --make-bench DIR [--instant]
//                                 write the default bench into DIR (with
//                                 --instant: no erase or program delays);
//                                 refused while a job holds one of its units
//   ecuprog-sim --help            what each of these does
//   ecuprog-sim --make-bench DIR --from-record FILE
//                                 write into DIR the bench a job's record
//                                 shows (sim/record_bench.h): its units as
//                                 listed, the chosen one with what the
//                                 server answered for it; a record that is
//                                 damaged, of a later format or short of
//                                 what a bench needs writes nothing
//
// It serves the bench in $ECUPROG_SIM_BENCH (default
// ${XDG_DATA_HOME:-$HOME/.local/share}/ecuprog/bench), which is made with
// the default bench on first use. On Windows --register also registers the
// marshalling of the server's interfaces (ecuprog-sim-ps.dll beside it),
// for the current user only; in a kit that holds both bitnesses (x86\ and
// x64\) also the other one's DLL, for programs of the other bitness. It
// ends with --check's question and takes the registration back unless
// every program reaches the simulator.
//
// On Windows it has no console of its own: the verbs print in the prompt
// they were typed at, and what a serving simulator reports goes to the log
// ecuprog-sim.log in its bench folder (sim/server_log.h).
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/com_registration.h"
#include "platform/local_server.h"
#include "platform/parent_console.h"
#include "platform/system_text.h"
#include "server/server_interfaces.h"
#include "sim/bench_in_use.h"
#include "sim/bench_json.h"
#include "sim/bench_location.h"
#include "sim/bench_remake.h"
#include "sim/default_bench.h"
#include "sim/server_check.h"
#include "sim/server_host.h"
#include "sim/server_log.h"
#include "sim/sim_server.h"

namespace {

constexpr const char* kUsage =
    "usage: ecuprog-sim -Embedding | --register | --register-marshalling | "
    "--unregister | --check | --make-bench DIR [--instant | --from-record "
    "FILE] | --help\n";

constexpr const char* kHelp =
    "ecuprog-sim: the simulated programming server\n"
    "\n"
    "  --register            make this program the programming server\n"
    "                        (for this user), then --check\n"
    "  --register-marshalling\n"
    "                        register the interfaces' marshalling alone\n"
    "  --unregister          undo either registration\n"
    "  --check               say which server programs of each bitness\n"
    "                        reach; exit 0 only when every one reaches\n"
    "                        the simulator\n"
    "  --make-bench DIR [--instant]\n"
    "                        write the default bench into DIR (--instant:\n"
    "                        no erase or program delays)\n"
    "  --make-bench DIR --from-record FILE\n"
    "                        write into DIR the bench the job record FILE\n"
    "                        shows: its units as listed, the unit its job\n"
    "                        chose with the server's answers for it; a\n"
    "                        record that is damaged, of a later format or\n"
    "                        without a listing writes nothing\n"
    "  -Embedding            serve a job (COM starts it so)\n"
    "\n"
    "Jobs are served from the bench in ECUPROG_SIM_BENCH (a full path),\n"
    "by default the bench in the user's own data folder.\n";

int Fail(const std::string& message) {
  WriteText(stderr, "ecuprog-sim: " + message + "\n");
  return 1;
}

bool SameLetters(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) !=
        std::tolower(static_cast<unsigned char>(*b))) {
      return false;
    }
  }
  return *a == *b;
}

// Prints what each kind of program reaches; true when every one reaches
// the simulator.
bool ReportServerReached() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    Fail("COM cannot be initialised");
    return false;
  }
  const std::vector<ServerReached> reached = CheckServerReached();
  CoUninitialize();
  for (const ServerReached& one : reached) {
    WriteText(stdout, one.programs + " reach " + one.answer + "\n");
  }
  std::fflush(stdout);
  return EveryProgramReachesSimulator(reached);
}

int Check() {
  if (!ReportServerReached()) {
    return Fail(
        "check failed: not every program reaches the simulator, so a "
        "rehearsal job could reach a real programming server or none");
  }
  WriteText(stdout, "check passed: every program reaches the simulator\n");
  return 0;
}

int Unregister();

int Register(bool localServer) {
  const std::string path = OwnExecutablePath();
  if (path.empty()) return Fail("cannot tell where this executable is");
  std::string why;
  if (localServer && !ComReadsOwnRegistrations(&why)) {
    return Fail("not registered: " + why +
                ". Register from a Command Prompt that is not \"Run as "
                "administrator\", or turn User Account Control on.");
  }
  // Quoted, so a path with blanks is one word.
  const std::string command = "\"" + path + "\"";
  std::string otherBitness;
  HRESULT result = RegisterInterfaceMarshalling(path, &otherBitness);
  if (SUCCEEDED(result) && localServer) {
    result = RegisterLocalServer(CLSID_ProgrammingServer, command.c_str());
  }
  if (FAILED(result)) {
    return Fail("registration failed (" + std::to_string(result) + ")");
  }
  if (!otherBitness.empty()) {
    WriteText(stdout, "registered " + otherBitness +
                          " for programs of the other bitness\n");
  }
  WriteText(stdout, (localServer ? "registered "
                                 : "registered the "
                                   "marshalling beside ") +
                        path + "\n");
  std::fflush(stdout);
  // COM's answer, not the registry's: a server already running, or one
  // registered where programs of one bitness look first, wins over the
  // registration just made.
  if (localServer && !ReportServerReached()) {
    Unregister();
    return Fail(
        "the registration is taken back: not every program reaches the "
        "simulator (see above); a rehearsal could reach a real programming "
        "server");
  }
  return 0;
}

int Unregister() {
  HRESULT result = UnregisterLocalServer(CLSID_ProgrammingServer);
  const HRESULT marshalling = UnregisterInterfaceMarshalling();
  if (SUCCEEDED(result)) result = marshalling;
  if (FAILED(result)) {
    return Fail("unregistration failed (" + std::to_string(result) + ")");
  }
  return 0;
}

// A bench made from a job's record: the record is read whole and judged
// before the folder is touched, so a record that is refused writes nothing.
int MakeBenchFromRecord(const std::string& folder, const std::string& path) {
  ReplayBench replay;
  try {
    replay = BenchFromRecord(ReadRecordFile(path), path, folder);
  } catch (const BenchError& error) {
    return Fail(std::string(error.what()) + "; no bench was written");
  }
  try {
    RemakeReplayBench(replay);
  } catch (const BenchError& error) {
    return Fail(error.what());
  }
  std::string made = "made the bench " + folder + " from " + path + ": " +
                     std::to_string(replay.bench.units.size()) +
                     " units listed";
  if (replay.chosenUnit.empty()) {
    made += "; the job chose none, so none can be programmed";
  } else {
    made += "; the job chose serial number " +
            std::to_string(replay.chosenSerial) + " (" + replay.chosenUnit +
            ")";
  }
  WriteText(stdout, made + "\n");
  for (const std::string& note : replay.notes) {
    WriteText(stdout, "note: " + note + "\n");
  }
  return 0;
}

int MakeBench(int argc, char** argv) {
  const bool instant = argc == 4 && std::strcmp(argv[3], "--instant") == 0;
  const bool fromRecord =
      argc == 5 && std::strcmp(argv[3], "--from-record") == 0;
  if (argc != 3 && !instant && !fromRecord) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // The paths as typed, in whatever letters: argv spells them in the ANSI
  // code page.
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  if (fromRecord) return MakeBenchFromRecord(arguments.at(2), arguments.at(4));
  try {
    RemakeDefaultBench(arguments.at(2), instant ? BenchTiming::kInstant
                                                : BenchTiming::kRealistic);
  } catch (const BenchError& error) {
    return Fail(error.what());
  }
  return 0;
}

int Serve(int argc, char** argv) {
  std::string folder;
  try {
    folder = BenchFolder();
  } catch (const BenchError& error) {
    return Fail(error.what());
  }
  // From here on every report of the serving simulator goes where its user
  // sees it: this Fail stands in for the one above.
  const auto report = ServingReporter(folder, ServerErrorOutputIsSeen());
  const auto Fail = [&report](const std::string& message) {
    report(message);
    return 1;
  };
  // The bench is read at the job's first call: made first where missing,
  // then held for the whole job, and read only once held, so that
  // --make-bench never changes it under the job.
  std::unique_ptr<BenchInUse> inUse;
  const auto server = std::make_unique<SimServer>(SimBench{});
  server->state().SetBenchLoader([&folder, &inUse] {
    OpenBench(folder);
    inUse = BenchInUse::ForServing(folder);
    return LoadBench(folder);
  });
  server->state().SetReportHook(report);
  // A scripted exit ends the process as a crashing server would: at once,
  // with the flash files as far as they got.
  server->state().SetExitHook([](int code) { std::_Exit(code); });
  server->state().SetServerPath(OwnExecutablePath());
  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) {
    return Fail("COM cannot be initialised");
  }
  PrepareLocalServer();
  IClassFactory* factory = server->NewClassFactory();
  DWORD cookie = 0;
  HRESULT result =
      CoRegisterClassObject(CLSID_ProgrammingServer, factory,
                            CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie);
  factory->Release();
  if (FAILED(result)) return Fail("the class cannot be registered");
  // The job is over once the client's request for the server has been
  // answered and every object it was handed has been released. Served is
  // read before the counts: once it is set, the first object is already
  // counted. (Looking only for a live object would miss a job that took
  // and released everything between two looks, and serve for ever.) The
  // entries are made first, so that this thread only ever reads counts the
  // serving threads change.
  const SimObjectKind kinds[] = {SimObjectKind::kRoot, SimObjectKind::kDevice,
                                 SimObjectKind::kCodeProgrammer,
                                 SimObjectKind::kStoreProgrammer,
                                 SimObjectKind::kIdentity};
  SimState& state = server->state();
  for (SimObjectKind kind : kinds) state.CountObject(kind, 0);
  const auto clientHasLetGo = [&] {
    if (!state.clientServed()) return false;
    int live = 0;
    for (SimObjectKind kind : kinds) live += state.LiveObjects(kind);
    return live == 0;
  };
  const int code = ServeLocalServer(argc, argv, clientHasLetGo);
  // The client has gone, in order or not (its process ended with objects
  // still held): the units finish what they were given before the server
  // lets go of them (its unit locks end with it).
  for (const std::string& path : state.FinishRunningErases()) {
    Fail(path + ": a running erase could not be finished");
  }
  CoRevokeClassObject(cookie);
  CoUninitialize();
  return state.benchFailed() ? 1 : code;
}

}  // namespace

int main(int argc, char** argv) {
  EndFatalFaultsWithoutDialog();
  bool serving = false;
  for (int i = 1; i < argc; ++i) {
    serving = serving || SameLetters(argv[i], "-Embedding") ||
              SameLetters(argv[i], "/Embedding");
  }
  // A serving simulator prints nowhere: it must not take over the console
  // of whatever started it.
  if (!serving) AttachParentConsole();
  if (argc >= 2 && std::strcmp(argv[1], "--register") == 0 && argc == 2) {
    return Register(true);
  }
  if (argc == 2 && std::strcmp(argv[1], "--register-marshalling") == 0) {
    return Register(false);
  }
  if (argc >= 2 && std::strcmp(argv[1], "--unregister") == 0 && argc == 2) {
    return Unregister();
  }
  if (argc == 2 && std::strcmp(argv[1], "--check") == 0) return Check();
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    WriteText(stdout, kHelp);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--make-bench") == 0) {
    return MakeBench(argc, argv);
  }
  if (serving) return Serve(argc, argv);
  std::fputs(kUsage, stderr);
  return 2;
}

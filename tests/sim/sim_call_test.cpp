// The frame of every server call: a fault inside the server's own code
// fails one call and the server goes on; a server whose client has gone
// finishes its erases and answers nothing more.
#include "sim/sim_call.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>

#include "sim/default_bench.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"
#include "tests/sim/sim_client.h"

namespace {

struct Escape {
  const char* name;
  std::function<void()> raise;
  HRESULT answer;
  const char* reported;  // nullptr: nothing reported
};

TEST(SimCall, AnExceptionBecomesTheCallsFailure) {
  TempFolder folder;
  SimServer server(WriteDefaultBench(folder.path(), BenchTiming::kInstant));
  std::vector<std::string> reports;
  server.state().SetReportHook(
      [&](const std::string& message) { reports.push_back(message); });
  const Escape escapes[] = {
      {"no memory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, nullptr},
      {"a library's error", [] { throw std::out_of_range("map::at"); }, E_FAIL,
       "a call failed inside the server: map::at"},
      {"not an exception class", [] { throw 42; }, E_FAIL,
       "a call failed inside the server"},
  };
  for (const Escape& escape : escapes) {
    SCOPED_TRACE(escape.name);
    reports.clear();
    EXPECT_EQ(ServeSimCall(server.state(),
                           [&]() -> HRESULT {
                             escape.raise();
                             return S_OK;
                           }),
              escape.answer);
    if (escape.reported == nullptr) {
      EXPECT_TRUE(reports.empty());
    } else {
      EXPECT_EQ(reports, std::vector<std::string>{escape.reported});
    }
    // The lock was let go of on the way out.
    EXPECT_EQ(ServeSimCall(server.state(), []() -> HRESULT { return S_FALSE; }),
              S_FALSE);
  }
}

class SimThrowTest : public testing::Test {
 public:
  // The server with `faults`, the ready unit opened with both groups held.
  void Start(std::vector<SimFault> faults) {
    bench_.faults = std::move(faults);
    server_ = std::make_unique<SimServer>(bench_);
    server_->state().SetReportHook(
        [this](const std::string& message) { reports_.push_back(message); });
    root_.reset(server_->NewRoot());
    record_ = RecordOf(root_.get(), server_->state(), kDefaultReadyUnit);
    device_ = OpenUnit(root_.get(), record_);
    code_ = Programmer(device_.get(), record_, SimRegion::kCode, 0);
    store_ = Programmer(device_.get(), record_, SimRegion::kStore, 0);
    AcquireGroup(code_.get(), record_.groupKey());
    AcquireGroup(store_.get(), record_.groupKey());
  }

  HRESULT Array(const std::function<HRESULT(SAFEARRAY**)>& call) {
    SAFEARRAY* array = nullptr;
    const HRESULT result = call(&array);
    if (FAILED(result)) {
      EXPECT_EQ(array, nullptr) << "no array on a failure";
    }
    TakeArray(array);
    return result;
  }

  HRESULT Text(const std::function<HRESULT(BSTR*)>& call) {
    BSTR text = nullptr;
    const HRESULT result = call(&text);
    if (FAILED(result)) {
      EXPECT_EQ(text, nullptr) << "no text on a failure";
    }
    TakeText(text);
    return result;
  }

  template <typename Interface>
  HRESULT Object(const std::function<HRESULT(Interface**)>& call) {
    Interface* object = nullptr;
    const HRESULT result = call(&object);
    if (FAILED(result)) {
      EXPECT_EQ(object, nullptr) << "nothing handed out";
    }
    if (object != nullptr) object->Release();
    return result;
  }

  HRESULT Status(const std::function<HRESULT(USHORT*)>& call) {
    USHORT status = 0;
    return call(&status);
  }

  TempFolder folder_;
  SimBench bench_ = WriteDefaultBench(folder_.path(), BenchTiming::kInstant);
  std::unique_ptr<SimServer> server_;
  std::vector<std::string> reports_;
  Ref<ProgrammingServer> root_;
  DeviceRecord record_{};
  Ref<DeviceInterface> device_;
  Ref<ProgrammingInterface> code_;
  Ref<ProgrammingInterface> store_;
};

struct Struck {
  const char* operation;
  std::optional<SimRegion> region;
  uint32_t call;  // the calls Start made come first
  std::function<HRESULT(SimThrowTest&)> invoke;
};

// Every operation of every object, struck in turn: the call fails with
// E_FAIL and hands out nothing, the fault is reported, and the same call
// made again is served as ever: the server has not ended.
TEST_F(SimThrowTest, AThrowFailsOneCallAndTheServerGoesOn) {
  const GUID group{};
  const Struck rows[] = {
      {"CreateInstance", std::nullopt, 1,
       [](SimThrowTest& t) {
         Ref<IClassFactory> factory(t.server_->NewClassFactory());
         return t.Object<IUnknown>([&](IUnknown** object) {
           return factory->CreateInstance(nullptr, IID_IUnknown,
                                          reinterpret_cast<void**>(object));
         });
       }},
      {"GetVersion", std::nullopt, 1,
       [](SimThrowTest& t) {
         USHORT major = 0;
         USHORT minor = 0;
         return t.root_->GetVersion(&major, &minor);
       }},
      {"SetProfile", std::nullopt, 1,
       [](SimThrowTest& t) {
         SAFEARRAY* profile = ByteArray({1, 2, 3});
         const HRESULT result = t.root_->SetProfile(profile);
         SafeArrayDestroy(profile);
         return result;
       }},
      {"DetectDevices", std::nullopt, 2,
       [](SimThrowTest& t) {
         return t.Array(
             [&](SAFEARRAY** out) { return t.root_->DetectDevices(out); });
       }},
      {"GetIdentities", std::nullopt, 1,
       [](SimThrowTest& t) {
         return t.Array([&](SAFEARRAY** out) {
           return t.root_->GetIdentities(t.record_.unitKeyA(),
                                         t.record_.unitKeyB(), 0, 0, 1, out);
         });
       }},
      {"GetIdentityName", std::nullopt, 1,
       [](SimThrowTest& t) {
         return t.Text(
             [&](BSTR* out) { return t.root_->GetIdentityName(1, 0, out); });
       }},
      {"GetAccessName", std::nullopt, 1,
       [](SimThrowTest& t) {
         return t.Text(
             [&](BSTR* out) { return t.root_->GetAccessName(0, out); });
       }},
      {"OpenDevice", std::nullopt, 2,
       [](SimThrowTest& t) {
         return t.Object<DeviceInterface>([&](DeviceInterface** out) {
           UnitAddressTail tail;
           std::memcpy(&tail, t.record_.bytes + device_record::kUnitAddressB,
                       sizeof tail);
           return t.root_->OpenDevice(t.record_.unitAddressA(), tail, out);
         });
       }},
      {"GetCodeProgrammer", std::nullopt, 2,
       [](SimThrowTest& t) {
         return t.Object<ProgrammingInterface>([&](ProgrammingInterface** out) {
           return t.device_->GetCodeProgrammer(t.record_.unitKeyA(), 0, out);
         });
       }},
      {"GetStoreProgrammer", std::nullopt, 2,
       [](SimThrowTest& t) {
         return t.Object<ProgrammingInterface>([&](ProgrammingInterface** out) {
           return t.device_->GetStoreProgrammer(t.record_.unitKeyA(), 0, out);
         });
       }},
      {"AcquireGroup", SimRegion::kCode, 2,
       [&](SimThrowTest& t) {
         GroupTicket ticket{};
         return t.Status([&](USHORT* status) {
           return t.code_->AcquireGroup(t.record_.groupKey(), group, &ticket,
                                        status);
         });
       }},
      {"StartErase", SimRegion::kStore, 1,
       [](SimThrowTest& t) {
         return t.Status([&](USHORT* status) {
           return t.store_->StartErase(0, 0x1000, status);
         });
       }},
      {"PollErase", SimRegion::kCode, 1,
       [](SimThrowTest& t) {
         return t.Status(
             [&](USHORT* status) { return t.code_->PollErase(status); });
       }},
      {"ProgramRegion", SimRegion::kStore, 1,
       [](SimThrowTest& t) {
         SAFEARRAY* data = ByteArray({1, 2});
         const HRESULT result = t.Status([&](USHORT* status) {
           return t.store_->ProgramRegion(0x3F000, 2, data, status);
         });
         SafeArrayDestroy(data);
         return result;
       }},
      {"ResetDevice", std::nullopt, 1,
       [](SimThrowTest& t) {
         return t.Status(
             [&](USHORT* status) { return t.code_->ResetDevice(status); });
       }},
  };
  std::vector<std::string> struck;
  for (const Struck& row : rows) {
    SCOPED_TRACE(row.operation);
    struck.push_back(row.operation);
    reports_.clear();
    Start({{row.operation, row.region, row.call, FaultAction::kThrow,
            std::nullopt, false}});
    EXPECT_EQ(row.invoke(*this), E_FAIL);
    EXPECT_EQ(reports_, std::vector<std::string>{
                            std::string("a call failed inside the server: a "
                                        "scripted fault threw inside ") +
                            row.operation});
    EXPECT_TRUE(SUCCEEDED(row.invoke(*this))) << "the server goes on";
    EXPECT_FALSE(server_->state().exitCode().has_value());
  }
  // Every operation a fault may name is struck once.
  std::vector<std::string> operations = SimOperations();
  std::sort(operations.begin(), operations.end());
  std::sort(struck.begin(), struck.end());
  EXPECT_EQ(struck, operations);
}

// A client that went away without letting go: the server finishes the
// erase it was given and refuses whatever of the client's calls still
// arrives, rather than start on the unit anew for nobody.
TEST_F(SimThrowTest, AfterTheEndNoCallIsServed) {
  bench_.units[0].eraseMs = 60000;
  Start({});
  USHORT status = 0;
  ASSERT_EQ(code_->StartErase(0x10000, 0x1000, &status), S_OK);
  ASSERT_EQ(status, kStatusBusy);
  EXPECT_EQ(server_->state().FinishRunningErases(), std::vector<std::string>{});
  const std::vector<uint8_t> code =
      server_->state().ReadFlash(kDefaultReadyUnit, SimRegion::kCode);
  EXPECT_EQ(std::count(code.begin(), code.begin() + 0x1000, 0xFF), 0x1000);
  EXPECT_LT(std::count(code.begin() + 0x1000, code.begin() + 0x2000, 0xFF),
            0x100);
  EXPECT_EQ(code_->StartErase(0x11000, 0x1000, &status), kSimDisconnected);
  EXPECT_EQ(code_->PollErase(&status), kSimDisconnected);
  EXPECT_EQ(server_->state().CallCount("PollErase"), 0u);
}

}  // namespace

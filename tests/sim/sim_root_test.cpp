#include <gtest/gtest.h>

#include <cstring>

#include "sim/default_bench.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"
#include "tests/sim/sim_client.h"

namespace {

class SimRootTest : public testing::Test {
 protected:
  void Start() {
    server_ = std::make_unique<SimServer>(bench_);
    root_.reset(server_->NewRoot());
  }

  TempFolder folder_;
  SimBench bench_ = WriteDefaultBench(folder_.path(), BenchTiming::kInstant);
  std::unique_ptr<SimServer> server_;
  Ref<ProgrammingServer> root_;
};

TEST_F(SimRootTest, DefaultBenchShowsEveryKindOfListing) {
  Start();
  const std::vector<DeviceRecord> records = Detect(root_.get());
  ASSERT_EQ(records.size(), 6u);
  struct Expected {
    const char* model;
    uint16_t state;
    int32_t serial;
    uint16_t code[3];
  };
  const Expected expected[] = {
      {"W3", 1001, 4711, {1, 462, 7}},  {"W3", 700, 0, {0, 0, 0}},
      {"W3", 90, 0, {0, 0, 0}},         {"W3", 900, 4713, {0, 0, 0}},
      {"W17", 1001, 4715, {1, 301, 2}}, {"W3", 1000, 4716, {0, 0, 0}}};
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(records[i].modelName(), expected[i].model);
    EXPECT_EQ(records[i].unitState(), expected[i].state);
    EXPECT_EQ(records[i].serialNumber(), expected[i].serial);
    EXPECT_EQ(records[i].unitCodeBranch(), expected[i].code[0]);
    EXPECT_EQ(records[i].unitCodeVersion(), expected[i].code[1]);
    EXPECT_EQ(records[i].unitCodeRevision(), expected[i].code[2]);
  }
  EXPECT_EQ(records[0].bootBranch(), 1);
  EXPECT_EQ(records[0].bootVersion(), 40);
  EXPECT_EQ(records[0].unitLabel(), "Simulated test cell 1");
  EXPECT_EQ(records[0].groupKey(), bench_.units[0].groupKey);
}

TEST_F(SimRootTest, RecordsCarryEveryFieldAtItsOffset) {
  SimUnit unit;
  unit.name = "u";
  unit.unitAddressA = 0x11223344;
  unit.unitAddressB = 0x55667788;
  unit.unitAddressC = 0x99AA;
  unit.groupKey = 0xCAFEF00D;
  unit.modelName = std::string(32, 'M');  // fills the field: no NUL
  unit.bootBranch = 3;
  unit.bootVersion = 4;
  unit.unitState = 1001;
  unit.serialNumber = -2;
  unit.unitKeyA = 0xBEEF;
  unit.unitKeyB = 0xF00D;
  unit.unitCodeBranch = 7;
  unit.unitCodeVersion = 8;
  unit.unitCodeRevision = 9;
  unit.unitLabel = std::string(1088, 'L');  // no NUL in the record
  bench_.units = {unit};
  Start();
  const std::vector<DeviceRecord> records = Detect(root_.get());
  ASSERT_EQ(records.size(), 1u);
  const DeviceRecord& r = records[0];
  EXPECT_EQ(r.unitAddressA(), 0x11223344u);
  EXPECT_EQ(r.unitAddressB(), 0x55667788u);
  EXPECT_EQ(r.unitAddressC(), 0x99AA);
  EXPECT_EQ(r.groupKey(), 0xCAFEF00Du);
  EXPECT_EQ(r.modelName(), std::string(32, 'M'));
  EXPECT_EQ(r.bytes[device_record::kBootBranch], 3);
  EXPECT_EQ(r.bootVersion(), 4);
  EXPECT_EQ(r.unitState(), 1001);
  EXPECT_EQ(r.serialNumber(), -2);
  EXPECT_EQ(r.unitKeyA(), 0xBEEF);
  EXPECT_EQ(r.unitKeyB(), 0xF00D);
  EXPECT_EQ(r.unitCodeBranch(), 7);
  EXPECT_EQ(r.unitCodeVersion(), 8);
  EXPECT_EQ(r.unitCodeRevision(), 9);
  EXPECT_EQ(r.unitLabel(), std::string(1088, 'L'));
  // Reserved bytes stay zero.
  for (size_t offset : {10u, 52u, 86u, 96u, 166u}) {
    EXPECT_EQ(r.bytes[offset], 0) << offset;
  }
}

TEST_F(SimRootTest, RawRecordIsShownAsGivenAndFoundByItsContent) {
  std::vector<uint8_t> raw(kDeviceRecordSize, 0xEE);
  std::memset(raw.data(), 0x42, 10);                   // the unit address
  raw[92] = 1, raw[93] = 0, raw[94] = 2, raw[95] = 0;  // keys 1 and 2
  SimUnit unit;
  unit.name = "raw";
  unit.rawRecord = raw;
  unit.identities = {{3, 4, 0}};
  bench_.units = {unit, unit};
  bench_.units[1].name = "raw-twin";  // the same serial number twice
  Start();
  const std::vector<DeviceRecord> records = Detect(root_.get());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(std::vector<uint8_t>(records[1].bytes,
                                 records[1].bytes + kDeviceRecordSize),
            raw);
  EXPECT_NE(OpenUnit(root_.get(), records[0]), nullptr);
  EXPECT_EQ(server_->state().Calls("OpenDevice")[0].unit, "raw");
  SAFEARRAY* identities = nullptr;
  ASSERT_EQ(root_->GetIdentities(1, 2, 0, 0, 1, &identities), S_OK);
  EXPECT_EQ(TakeArray(identities).bytes,
            (std::vector<uint8_t>{3, 0, 4, 0, 0, 0}));
}

TEST_F(SimRootTest, NoUnitsGiveAnEmptyArray) {
  bench_.units.clear();
  Start();
  SAFEARRAY* devices = nullptr;
  ASSERT_EQ(root_->DetectDevices(&devices), S_OK);
  const Received received = TakeArray(devices);
  EXPECT_TRUE(received.present);
  EXPECT_EQ(received.type, VT_UI1);
  EXPECT_EQ(received.count, 0);
}

TEST_F(SimRootTest, VersionComesFromTheBench) {
  bench_.versionMajor = 1;
  bench_.versionMinor = 65535;
  Start();
  USHORT major = 0;
  USHORT minor = 0;
  ASSERT_EQ(root_->GetVersion(&major, &minor), S_OK);
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 65535);
}

TEST_F(SimRootTest, KeepsTheProfileItIsHandedByteForByte) {
  Start();
  std::vector<uint8_t> profile(1029);
  for (size_t i = 0; i < profile.size(); ++i) profile[i] = uint8_t(i * 7);
  SAFEARRAY* array = ByteArray(profile);
  ASSERT_EQ(root_->SetProfile(array), S_OK);
  SafeArrayDestroy(array);
  EXPECT_EQ(server_->state().Profile(), profile);
  const SimCall call = server_->state().Calls("SetProfile")[0];
  EXPECT_EQ(call.args, (std::vector<int64_t>{1029, 0, VT_UI1}));
}

TEST_F(SimRootTest, RefusesAProfileThatIsNotAByteArray) {
  Start();
  SAFEARRAYBOUND bound{4, 0};
  SAFEARRAY* words = SafeArrayCreate(VT_UI2, 1, &bound);
  EXPECT_EQ(root_->SetProfile(words), E_INVALIDARG);
  EXPECT_EQ(root_->SetProfile(nullptr), E_POINTER);
  SafeArrayDestroy(words);
  EXPECT_FALSE(server_->state().Profile().has_value());
}

TEST_F(SimRootTest, IdentitiesAreTheUnitsTriples) {
  Start();
  const DeviceRecord ready =
      RecordOf(root_.get(), server_->state(), kDefaultReadyUnit);
  SAFEARRAY* identities = nullptr;
  ASSERT_EQ(root_->GetIdentities(ready.unitKeyA(), ready.unitKeyB(), 0, 0, 1,
                                 &identities),
            S_OK);
  const Received received = TakeArray(identities);
  EXPECT_EQ(received.type, VT_UI2);
  EXPECT_EQ(received.count, 9);
  EXPECT_EQ(received.bytes, (std::vector<uint8_t>{1, 0, 7, 0, 1, 0, 1, 0, 0, 0,
                                                  0, 0, 2, 0, 12, 0, 2, 0}));
  const SimCall call = server_->state().Calls("GetIdentities")[0];
  EXPECT_EQ(call.unit, kDefaultReadyUnit);
  EXPECT_EQ(call.args, (std::vector<int64_t>{ready.unitKeyA(), ready.unitKeyB(),
                                             0, 0, 1}));
}

// A unit whose identities the bench does not know gives no list at all,
// and the server says why.
TEST_F(SimRootTest, IdentitiesNotKnownFailTheCall) {
  bench_.units[0].identitiesKnown = false;
  Start();
  std::vector<std::string> reported;
  server_->state().SetReportHook(
      [&](const std::string& message) { reported.push_back(message); });
  const DeviceRecord ready =
      RecordOf(root_.get(), server_->state(), kDefaultReadyUnit);
  SAFEARRAY* identities = nullptr;
  EXPECT_EQ(root_->GetIdentities(ready.unitKeyA(), ready.unitKeyB(), 0, 0, 1,
                                 &identities),
            E_FAIL);
  EXPECT_EQ(identities, nullptr);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find("identities are not known"), std::string::npos);
}

TEST_F(SimRootTest, IdentitiesRefuseOtherConstants) {
  Start();
  SAFEARRAY* identities = nullptr;
  EXPECT_EQ(root_->GetIdentities(257, 513, 0, 1, 0, &identities), E_INVALIDARG);
  EXPECT_EQ(identities, nullptr);
}

TEST_F(SimRootTest, NamesAreWideTextsOrNull) {
  bench_.accessLevelNames[9] = std::nullopt;
  Start();
  BSTR name = nullptr;
  ASSERT_EQ(root_->GetIdentityName(1, 0, &name), S_OK);
  EXPECT_EQ(SysStringLen(name), 17u);  // "Werkstatt München": one ü
  EXPECT_EQ(TakeText(name), "Werkstatt München");
  ASSERT_EQ(root_->GetAccessName(0, &name), S_OK);
  EXPECT_EQ(TakeText(name), "Full programming");
  ASSERT_EQ(root_->GetAccessName(9, &name), S_OK);
  EXPECT_EQ(name, nullptr);
  // Names the bench does not know are refused.
  EXPECT_EQ(root_->GetAccessName(77, &name), E_INVALIDARG);
  EXPECT_EQ(root_->GetIdentityName(1, 99, &name), E_INVALIDARG);
}

TEST_F(SimRootTest, OpenDeviceFindsTheUnitByAllTenAddressBytes) {
  Start();
  const DeviceRecord ready =
      RecordOf(root_.get(), server_->state(), kDefaultReadyUnit);
  EXPECT_NE(OpenUnit(root_.get(), ready), nullptr);
  const SimCall call = server_->state().Calls("OpenDevice")[0];
  EXPECT_EQ(call.unit, kDefaultReadyUnit);
  EXPECT_EQ(call.args, (std::vector<int64_t>{ready.unitAddressA()}));
  EXPECT_EQ(call.bytes,
            std::vector<uint8_t>(ready.bytes + 4, ready.bytes + 10));

  DeviceRecord wrongC = ready;
  wrongC.bytes[device_record::kUnitAddressC + 1] ^= 1;
  EXPECT_EQ(OpenUnit(root_.get(), wrongC), nullptr);
  EXPECT_EQ(server_->state().Calls("OpenDevice")[1].unit, "");
}

TEST_F(SimRootTest, ObjectsAnswerForTheirOwnInterfaceOnly) {
  Start();
  void* object = nullptr;
  EXPECT_EQ(root_->QueryInterface(IID_DeviceInterface, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  ASSERT_EQ(root_->QueryInterface(IID_IUnknown, &object), S_OK);
  EXPECT_EQ(object, static_cast<IUnknown*>(root_.get()));
  static_cast<IUnknown*>(object)->Release();
  EXPECT_EQ(root_->Unused3(), E_NOTIMPL);
  EXPECT_EQ(server_->state().LiveObjects(SimObjectKind::kRoot), 1);
  root_.reset();
  EXPECT_EQ(server_->state().LiveObjects(SimObjectKind::kRoot), 0);
  EXPECT_EQ(server_->state().Calls("Release").size(), 1u);
}

TEST_F(SimRootTest, RegisteredServerAnswersCoCreateInstanceInProcess) {
  Start();
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  ASSERT_EQ(server_->Register(), S_OK);
  void* object = nullptr;
  ASSERT_EQ(
      CoCreateInstance(CLSID_ProgrammingServer, nullptr, CLSCTX_LOCAL_SERVER,
                       IID_ProgrammingServer, &object),
      S_OK);
  Ref<ProgrammingServer> created(static_cast<ProgrammingServer*>(object));
  USHORT major = 0;
  USHORT minor = 0;
  EXPECT_EQ(created->GetVersion(&major, &minor), S_OK);
  EXPECT_EQ(server_->state().CallCount("CreateInstance"), 1u);
  server_->Unregister();
  CoUninitialize();
}

}  // namespace

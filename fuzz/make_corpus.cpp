// Writes the seed corpora of the harnesses into CORPUS_DIR/<harness>/:
// variants of the released blocks (cut short, shrunk to a small block that
// passes every check, then broken one check at a time) and the detection
// arrays, identities and benches of the default simulated bench, and one
// channel message of each answer the tool decodes.
//
//   ecuprog_fuzz_corpus CORPUS_DIR
#include <capnp/message.h>
#include <capnp/serialize.h>
#include <cryptopp/filters.h>
#include <cryptopp/zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "blocks/code_image.h"
#include "fuzz/fuzz_check.h"
#include "platform/posix/com_marshal.capnp.h"
#include "platform/windows_api.h"
#include "server/device_record.h"
#include "sim/bench_json.h"
#include "sim/default_bench.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_root;

void Write(const std::string& harness, const std::string& name,
           const Bytes& bytes) {
  const std::string folder = g_root + "/" + harness;
  std::filesystem::create_directories(folder);
  std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(static_cast<bool>(out), folder + "/" + name);
}

void Write(const std::string& harness, const std::string& name,
           const std::string& text) {
  Write(harness, name, Bytes(text.begin(), text.end()));
}

Bytes Inflate(const Bytes& stream) {
  std::string out;
  CryptoPP::ZlibDecompressor inflater(new CryptoPP::StringSink(out));
  inflater.PutMessageEnd(stream.data(), stream.size());
  return Bytes(out.begin(), out.end());
}

Bytes Deflate(const Bytes& data, int level) {
  std::string out;
  CryptoPP::ZlibCompressor deflater(new CryptoPP::StringSink(out), level);
  deflater.PutMessageEnd(data.data(), data.size());
  return Bytes(out.begin(), out.end());
}

Bytes Head(const Bytes& bytes, size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + length);
}

// The last whole word holds the checksum of everything before it.
void FixChecksum(Bytes& block) {
  uint8_t* last = block.data() + (block.size() / 4) * 4 - 4;
  StoreBigEndian32(last, 0);
  StoreBigEndian32(
      last, BlockCrc(block.data(), static_cast<uint32_t>(block.size() / 4)));
}

void Store16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

void CodeSeeds() {
  const char* kHarness = "code_image_fuzzer";
  const Bytes stream = ReadFileOrDie(ECUPROG_SAMPLE_CODE_BLOCK);
  Write(kHarness, "released-cut-1024", Head(stream, 1024));
  Write(kHarness, "released-cut-3000", Head(stream, 3000));

  // The released image's first 6 KiB as a block of its own: header and
  // code as released, end field and checksum made to fit.
  const Bytes released = Inflate(stream);
  const size_t kLength = 6144;
  Bytes image = Head(released, kLength);
  uint8_t* header = image.data() + kCodeHeaderOffset;
  StoreBigEndian32(header + 0x08, kCodeStartAddress + kLength - 1);
  FixChecksum(image);
  const Bytes small = Deflate(image, 9);
  FUZZ_CHECK(small.size() >= 1024 && small.size() < kLength, "small block");
  Write(kHarness, "small", small);
  Write(kHarness, "small-stored", Deflate(image, 0));
  Bytes trailing = small;
  trailing.insert(trailing.end(), {0x78, 0x9C, 0x03, 0x00});
  Write(kHarness, "small-trailing-bytes", trailing);

  // One check broken at a time, the checksum still intact.
  struct Variant {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
  };
  const Variant variants[] = {
      {"small-magic", 0x00, {0xC0, 0xDF}},
      {"small-type", 0x02, {0x00, 0x03}},
      {"small-w17", 0x10, {'W', '1', '7', 0}},
      {"small-w4", 0x10, {'W', '4', 0}},
      {"small-start", 0x04, {0x00, 0x02, 0x00, 0x00}},
      {"small-end", 0x08, {0x00, 0x07, 0x00, 0x00}},
      {"small-version-x", 0x32, {2}},
      {"small-version-y", 0x33, {4}},
  };
  for (const Variant& variant : variants) {
    Bytes broken = image;
    std::memcpy(broken.data() + kCodeHeaderOffset + variant.offset,
                variant.bytes.data(), variant.bytes.size());
    FixChecksum(broken);
    Write(kHarness, variant.name, Deflate(broken, 9));
  }
  Bytes damaged = image;
  damaged[4000] ^= 0x10;
  Write(kHarness, "small-damaged", Deflate(damaged, 9));
}

void ProfileSeeds() {
  const char* kHarness = "profile_block_fuzzer";
  const Bytes released = ReadFileOrDie(ECUPROG_SAMPLE_PROFILE_BLOCK);
  Write(kHarness, "released-cut-1024", Head(released, 1024));
  for (size_t length : {size_t{1024}, size_t{4096}, size_t{4099}}) {
    Bytes profile = Head(released, length);
    StoreBigEndian32(profile.data() + 0x08, static_cast<uint32_t>(length - 1));
    FixChecksum(profile);
    Write(kHarness, "small-" + std::to_string(length), profile);
  }
  Bytes revision = Head(released, 2048);
  StoreBigEndian32(revision.data() + 0x08, 2047);
  Store16(revision.data() + 0x38, 0);  // maxCodeRevision below the code's
  FixChecksum(revision);
  Write(kHarness, "small-revision", revision);
}

// The byte order FuzzedDataProvider reads: texts and byte runs from the
// front, numbers from the back, the last byte first.
class ProviderInput {
 public:
  void Text(const std::string& text) {
    for (char c : text) {
      front_.push_back(static_cast<uint8_t>(c));
      if (c == '\\') front_.push_back('\\');
    }
    front_.push_back('\\');
    front_.push_back('#');
  }
  void Raw(const Bytes& bytes) {
    front_.insert(front_.end(), bytes.begin(), bytes.end());
  }
  void Number(uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
      back_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
  }
  Bytes Done() const {
    Bytes all = front_;
    all.insert(all.end(), back_.rbegin(), back_.rend());
    return all;
  }

 private:
  Bytes front_;
  Bytes back_;
};

void DetectionSeeds(const std::vector<DeviceRecord>& records) {
  const char* kHarness = "select_device_fuzzer";
  Bytes all;
  for (const DeviceRecord& record : records) {
    all.insert(all.end(), record.bytes, record.bytes + kDeviceRecordSize);
  }
  struct Seed {
    const char* name;
    bool w17;
    const char* answer;
    Bytes array;
  };
  const Seed seeds[] = {
      {"default-bench", false, "4711\n", all},
      {"default-bench-w17", true, " +4715", all},
      {"default-bench-unknown", false, "4713", all},
      {"one-unit", false, "4711", Head(all, kDeviceRecordSize)},
      {"one-unit-and-a-half", false, "4711",
       Head(all, kDeviceRecordSize + kDeviceRecordSize / 2)},
      {"cut-record", false, "4711", Head(all, 600)},
      {"empty", false, "", Bytes()},
  };
  for (const Seed& seed : seeds) {
    ProviderInput input;
    input.Number(seed.w17 ? 1 : 0, 1);  // target
    input.Number(0, 1);                 // no fault: the array as given
    input.Text(seed.answer);
    input.Raw(seed.array);
    Write(kHarness, seed.name, input.Done());
  }
}

void IdentitySeeds(const SimBench& bench) {
  const char* kHarness = "select_identity_fuzzer";
  const SimUnit& unit = bench.units[0];
  for (size_t cut : {size_t{0}, size_t{1}, size_t{4}}) {
    ProviderInput input;
    const size_t words = 3 * unit.identities.size() - cut;
    input.Number(words, 1);
    std::vector<uint16_t> values;
    for (const SimIdentity& identity : unit.identities) {
      values.insert(values.end(), {identity.identityGroup, identity.identityId,
                                   identity.accessLevel});
    }
    for (size_t i = 0; i < words; ++i) input.Number(values[i], 2);
    input.Number(unit.unitKeyA, 2);
    input.Number(unit.unitKeyB, 2);
    input.Number(0, 1);  // no array fault
    input.Number(0, 1);  // no identity name fault
    input.Number(0, 1);  // no access name fault
    for (size_t i = 0; i + 3 <= words; i += 3) {
      for (const SimName* name :
           {&bench.identityNames.at({values[i], values[i + 1]}),
            &bench.accessLevelNames.at(values[i + 2])}) {
        input.Number(0, 1);  // a text
        input.Text(**name);
      }
    }
    Write(kHarness, "default-unit-less-" + std::to_string(cut), input.Done());
  }
}

void BenchSeeds(const SimBench& defaultBench) {
  const char* kHarness = "bench_json_fuzzer";
  Write(kHarness, "default", BenchToJson(defaultBench));
  Write(kHarness, "empty-object", std::string("{}"));
  Write(kHarness, "one-unit", std::string("{\"units\": [{\"name\": \"a\"}]}"));

  SimBench bench;
  bench.accessLevelNames = {{0, std::string("Full")}, {7, std::nullopt}};
  bench.identityNames = {{{1, 0}, std::string("Service")}};
  SimUnit raw;
  raw.name = "raw";
  raw.rawRecord = Bytes(kDeviceRecordSize, 0);
  (*raw.rawRecord)[device_record::kModelName] = 'W';
  (*raw.rawRecord)[device_record::kModelName + 1] = '3';
  bench.units = {raw};
  bench.faults = {
      {"DetectDevices", std::nullopt, 1, FaultAction::kBadLength, 2511, false},
      {"PollErase", SimRegion::kCode, 3, FaultAction::kStatus, 5, false},
      {"ProgramRegion", SimRegion::kStore, 1, FaultAction::kExit, std::nullopt,
       true},
      {"GetIdentities", std::nullopt, std::nullopt,
       FaultAction::kWrongElementType, 17, false},
      {"OpenDevice", std::nullopt, 2, FaultAction::kEmptyOutput, std::nullopt,
       false},
      {"GetVersion", std::nullopt, 1, FaultAction::kResultCode, -2147467259,
       false},
  };
  Write(kHarness, "raw-unit-and-faults", BenchToJson(bench));
}

// A channel message as the server would send it, behind the byte that
// names the answer (see channel_fuzzer.cpp).
void WriteMessage(const std::string& name, uint8_t kind,
                  capnp::MessageBuilder& message) {
  const kj::Array<capnp::word> words = capnp::messageToFlatArray(message);
  const kj::ArrayPtr<const kj::byte> bytes = words.asBytes();
  Bytes seed{kind};
  seed.insert(seed.end(), bytes.begin(), bytes.end());
  Write("channel_fuzzer", name, seed);
}

void SetArray(com_marshal::Array::Builder out, VARTYPE vt, int32_t lower,
              uint32_t count, size_t elementSize) {
  auto value = out.initValue();
  value.setVartype(vt);
  value.setLowerBound(lower);
  value.setElementCount(count);
  auto elements = value.initElements(count * elementSize);
  for (size_t i = 0; i < elements.size(); ++i) {
    elements[i] = static_cast<uint8_t>(i * 7 + 1);
  }
}

void ChannelSeeds() {
  using com_marshal::Activator;
  using com_marshal::ProgrammingInterface;
  using com_marshal::ProgrammingServer;
  {
    capnp::MallocMessageBuilder message;
    auto answer = message.initRoot<ProgrammingServer::DetectDevicesResults>();
    SetArray(answer.initDevices(), VT_UI1, 0, 2 * kDeviceRecordSize, 1);
    WriteMessage("detect-two-records", 0, message);
  }
  {
    capnp::MallocMessageBuilder message;
    message.initRoot<ProgrammingServer::DetectDevicesResults>()
        .initDevices()
        .setNull();
    WriteMessage("detect-none", 0, message);
  }
  {
    capnp::MallocMessageBuilder message;
    auto answer = message.initRoot<ProgrammingServer::GetIdentitiesResults>();
    SetArray(answer.initIdentities(), VT_UI2, 0, 6, 2);
    WriteMessage("identities-two", 1, message);
  }
  {
    capnp::MallocMessageBuilder message;
    auto answer = message.initRoot<ProgrammingServer::GetIdentitiesResults>();
    SetArray(answer.initIdentities(), VT_UI2, INT32_MIN, 0, 2);
    WriteMessage("identities-wrapped-bounds", 1, message);
  }
  {
    capnp::MallocMessageBuilder message;
    auto answer = message.initRoot<ProgrammingServer::GetAccessNameResults>();
    const char16_t name[] = u"Full programming \u00e4";
    answer.initName().setUnits(capnp::Data::Reader(
        reinterpret_cast<const kj::byte*>(name), sizeof name - 2));
    WriteMessage("access-name", 2, message);
  }
  {
    capnp::MallocMessageBuilder message;
    auto answer = message.initRoot<ProgrammingInterface::AcquireGroupResults>();
    answer.initTicket(16);
    answer.setStatus(0);
    WriteMessage("group-ticket", 4, message);
  }
  {
    capnp::MallocMessageBuilder message;
    message.initRoot<Activator::CreateInstanceResults>().initIid(16);
    WriteMessage("instance", 5, message);
  }
  {
    capnp::MallocMessageBuilder message;
    auto request =
        message.initRoot<ProgrammingInterface::ProgramRegionParams>();
    request.setLength(1024);
    SetArray(request.initData(), VT_UI1, 0, 1024, 1);
    WriteMessage("program-region", 7, message);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  g_root = argv[1];
  BuildCrcTable();
  CodeSeeds();
  ProfileSeeds();

  TempFolder folder;
  const SimBench bench =
      WriteDefaultBench(folder.path() + "/bench", BenchTiming::kInstant);
  SimServer server(bench);
  DetectionSeeds(server.state().Records());
  IdentitySeeds(bench);
  BenchSeeds(MakeDefaultBench("/nonexistent/bench", BenchTiming::kInstant));
  ChannelSeeds();
  return 0;
}

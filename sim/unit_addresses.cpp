#include "sim/unit_addresses.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "server/device_record.h"
#include "sim/record_writer.h"

namespace {

// The ten address bytes and the four key bytes a unit shows at detection.
struct Shown {
  std::vector<uint8_t> address;
  std::vector<uint8_t> keys;
};

Shown ShownBy(const SimUnit& unit) {
  const DeviceRecord record = MakeDeviceRecord(unit, {});
  const uint8_t* address = record.bytes + device_record::kUnitAddressA;
  const uint8_t* keys = record.bytes + device_record::kUnitKeyA;
  return {{address, address + device_record::kUnitAddressC + 2},
          {keys, keys + 4}};
}

// Units that may share what they show: see CheckUnitsApart.
bool MayShare(const SimUnit& unit) {
  return unit.rawRecord.has_value() && !unit.flashSimulated();
}

std::string Where(const SimBench& bench, size_t index) {
  return "units[" + std::to_string(index) + "] (\"" + bench.units[index].name +
         "\")";
}

std::string AddressText(const SimUnit& unit) {
  const DeviceRecord record = MakeDeviceRecord(unit, {});
  char text[40];
  std::snprintf(text, sizeof text, "0x%08X 0x%08X 0x%04X",
                record.unitAddressA(), record.unitAddressB(),
                record.unitAddressC());
  return text;
}

std::string KeysText(const SimUnit& unit) {
  const DeviceRecord record = MakeDeviceRecord(unit, {});
  return std::to_string(record.unitKeyA()) + " and " +
         std::to_string(record.unitKeyB());
}

// Sets, for each unit at `indexes`, the lowest n for which the unit shows
// a `what` no other unit shows. A unit's raw record shows what it holds and
// takes nothing given here.
void GiveFree(SimBench& bench, const std::vector<size_t>& indexes,
              std::vector<uint8_t> Shown::*what,
              const std::function<void(SimUnit&, uint16_t)>& give) {
  std::set<std::vector<uint8_t>> taken;
  for (size_t i = 0; i < bench.units.size(); ++i) {
    if (std::find(indexes.begin(), indexes.end(), i) != indexes.end()) continue;
    taken.insert(ShownBy(bench.units[i]).*what);
  }
  // A bench holds far fewer units than there are values of n.
  uint32_t next = 0;
  for (size_t index : indexes) {
    SimUnit& unit = bench.units[index];
    if (unit.rawRecord) continue;
    do {
      give(unit, static_cast<uint16_t>(next++));
    } while (!taken.insert(ShownBy(unit).*what).second && next <= UINT16_MAX);
  }
}

}  // namespace

void CheckUnitsApart(const SimBench& bench) {
  std::map<std::vector<uint8_t>, size_t> addresses;
  std::map<std::vector<uint8_t>, size_t> keys;
  for (size_t i = 0; i < bench.units.size(); ++i) {
    const SimUnit& unit = bench.units[i];
    const Shown shown = ShownBy(unit);
    const auto address = addresses.emplace(shown.address, i);
    const size_t other = address.first->second;
    if (!address.second && !(MayShare(unit) && MayShare(bench.units[other]))) {
      throw BenchError(Where(bench, i) + " and " + Where(bench, other) +
                       " share the unit address " + AddressText(unit) +
                       "; each unit needs its own");
    }
    const auto key = keys.emplace(shown.keys, i);
    const size_t holder = key.first->second;
    if (!key.second && !(MayShare(unit) && MayShare(bench.units[holder]))) {
      throw BenchError(Where(bench, i) + " and " + Where(bench, holder) +
                       " share the unit keys " + KeysText(unit) +
                       "; each unit needs its own pair");
    }
  }
}

void GiveFreeAddresses(SimBench& bench, const std::vector<size_t>& indexes) {
  GiveFree(bench, indexes, &Shown::address, [](SimUnit& unit, uint16_t n) {
    unit.unitAddressA = 0;
    unit.unitAddressB = 0;
    unit.unitAddressC = n;
  });
}

void GiveFreeKeys(SimBench& bench, const std::vector<size_t>& indexes) {
  GiveFree(bench, indexes, &Shown::keys, [](SimUnit& unit, uint16_t n) {
    unit.unitKeyA = 0;
    unit.unitKeyB = n;
  });
}

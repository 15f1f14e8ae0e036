#include "sim/group_14.h"

#include <algorithm>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

constexpr uint8_t kOpen = 0x09;
constexpr BusAccess kControlSteps[] = {{kControlPort, 0x28}, {kControlPort, 0x84}};
constexpr BusAccess kBraceSteps[] = {{kDataPort, 0x06}, {kDataPort, 0x39}};
constexpr uint8_t kStatusQuery = 4;
constexpr uint8_t kVersionQuery = 1;

constexpr uint32_t kAddressMask = 0xFFFFFF;
constexpr uint32_t kDataRoom = 498;  // bytes 12-509
constexpr uint32_t kMaxEntries = 124;
constexpr uint32_t kMaxBlock = 256;

uint32_t banked(uint8_t bank, uint32_t offset) { return uint32_t{bank} << 16 | (offset & 0xFFFF); }

}  // namespace

uint8_t banked_fill_byte(uint32_t address) {
  return static_cast<uint8_t>((address * 5) ^ (address >> 8) ^ ((address >> 16) * 0x47));
}

uint8_t RegisterPair::status() const {
  return star_after != kNever && answered >= static_cast<uint32_t>(star_after) ? kStar : kBusy;
}

void RegisterPair::start_session() {
  answered = 0;
  phase = Phase::idle;
}

uint8_t RegisterPair::read(uint32_t address) {
  uint8_t value = control;
  if (address == kDataPort) {
    switch (phase) {
      case Phase::idle:
        value = status();
        break;
      case Phase::opened:
        value = brace_greeting ? kBrace : status();
        expected.assign(std::begin(kControlSteps), std::end(kControlSteps));
        if (value == kBrace) {
          expected.insert(expected.end(), std::begin(kBraceSteps), std::end(kBraceSteps));
        }
        step = 0;
        phase = Phase::steps;
        break;
      case Phase::answered:
        value = answer;
        phase = Phase::idle;
        break;
      case Phase::steps:
      case Phase::value:
        ++broken;
        phase = Phase::broken;
        value = kNoAnswer;
        break;
      case Phase::broken:
        value = kNoAnswer;
        break;
    }
  }
  transcript.push_back({address, value, true});
  return value;
}

void RegisterPair::write(uint32_t address, uint8_t value) {
  transcript.push_back({address, value});
  if (address == kControlPort) {
    control = value;
  }
  const BusAccess access{address, value};
  switch (phase) {
    case Phase::steps:
      if (access == expected[step]) {
        phase = ++step == expected.size() ? Phase::value : Phase::steps;
        return;
      }
      ++broken;
      phase = Phase::broken;
      break;
    case Phase::value:
      if (address == kDataPort) {
        ++answered;
        answer = value == kStatusQuery ? status() : value == kVersionQuery ? version : value;
        phase = Phase::answered;
        return;
      }
      ++broken;
      phase = Phase::broken;
      break;
    case Phase::opened:    // the greeting has not been read
    case Phase::answered:  // the answer has not been read
      if (!(address == kDataPort && value == kOpen)) {
        ++broken;
        phase = Phase::broken;
      }
      break;
    case Phase::idle:
    case Phase::broken:
      break;
  }
  if (address == kDataPort && value == kOpen) {
    phase = Phase::opened;
  }
}

BankedCart::BankedCart() : memory(kBankedSize) {
  for (uint32_t a = 0; a < kBankedSize; ++a) {
    memory[a] = banked_fill_byte(a);
  }
}

uint8_t BankedCart::read(uint32_t address) {
  address &= kAddressMask;
  return address == kDataPort || address == kControlPort ? registers.read(address) : at(address);
}

void BankedCart::write(uint32_t address, uint8_t value) {
  address &= kAddressMask;
  if (address == kDataPort || address == kControlPort) {
    registers.write(address, value);
  } else {
    at(address) = value;
  }
}

bool execute_group_14(Device& device, const uint8_t* sector, SectorRecord& record) {
  BankedCart& cart = device.g14;
  const uint8_t selector = sector[3];
  const uint8_t bank = sector[4];
  const uint32_t offset = sector_field(sector, 6, 2);
  const uint8_t* data = sector + 12;
  switch (sector[2]) {
    case 0x01:
      cart.ready = true;
      return true;
    case 0x02:
      if (selector == 1) {
        cart.command_02_value = bank;
      }
      cart.registers.start_session();
      return true;
    case 0x03: {
      record.address = banked(bank, offset);
      record.length = sector_field(sector, 8, 2);
      const uint32_t n = std::min(record.length, kReplyAreaSize);
      for (uint32_t i = 0; i < n; ++i) {
        device.reply_file[i] = cart.read(banked(bank, offset + i));
      }
      return true;
    }
    case 0x04: {
      record.address = banked(bank, offset);
      record.length = sector_field(sector, 8, 2);
      const uint32_t n = std::min(record.length, kMaxEntries);
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* entry = data + 4 * i;
        cart.write(banked(entry[1], sector_field(entry, 2, 2)), entry[0]);
      }
      return true;
    }
    case 0x05:
    case 0x06: {
      record.address = banked(bank, offset);
      record.length = sector_field(sector, 8, 2);
      const uint32_t n = std::min(record.length, sector[2] == 0x06 ? kMaxBlock : kDataRoom);
      for (uint32_t i = 0; i < n; ++i) {
        cart.write(banked(bank, offset + i), data[i]);
        cart.selector_sums[selector] = static_cast<uint8_t>(cart.selector_sums[selector] + data[i]);
      }
      return true;
    }
    case 0x07:
      device.reply_file[0] = cart.selector_sums[selector];
      return true;
    case 0x08: {
      record.address = sector_field(sector, 4, 4);
      record.length = sector_field(sector, 8, 4);
      const uint32_t n = std::min(record.length, kDataRoom);
      for (uint32_t i = 0; i < n; ++i) {
        cart.write(record.address + i, data[i]);
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace cartdump::sim

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
constexpr uint32_t kBankMask = 0xFF0000;
constexpr uint32_t kOffsetMask = 0xFFFF;

constexpr SectorField kSelector{3, 1};
constexpr SectorField kBankOfAddress{4, 1, 16};  // address bits 16-23
constexpr SectorField kOffset{6, 2};             // address bits 0-15
constexpr SectorField kLength{8, 2};
constexpr uint16_t kData = 12;
constexpr uint32_t kDataRoom = 498;  // bytes 12-509
constexpr uint32_t kMaxBlock = 256;

// Command 0x02's value follows at byte 4 when byte 3 says so.
constexpr SectorField kValueFollows = kSelector;
constexpr SectorField kValue{4, 1};

// Command 0x04's entries: 4 bytes each at 12 + 4i, the value, then the bank, then the offset low
// byte first.
constexpr uint32_t kMaxEntries = 124;
constexpr uint16_t kEntrySize = 4;
constexpr SectorField kEntryValue{0, 1};
constexpr SectorField kEntryBank{1, 1, 16};
constexpr SectorField kEntryOffset{2, 2};

// Command 0x08 carries a full address instead of a bank and an offset.
constexpr SectorField kFullAddress{4, 4};
constexpr SectorField kFullLength{8, 4};

// Address a of a run that started at start in a bank: the offset counter wraps within the bank.
uint32_t in_bank(uint32_t start, uint32_t a) { return (start & kBankMask) | (a & kOffsetMask); }

void prepare(Device& device, const uint8_t*, SectorRecord&) { device.g14.ready = true; }

void start_session(Device& device, const uint8_t* sector, SectorRecord&) {
  if (get_field(sector, kValueFollows) == 1) {
    device.g14.command_02_value = static_cast<int>(get_field(sector, kValue));
  }
  device.g14.registers.start_session();
}

void read(Device& device, const uint8_t*, SectorRecord& record) {
  device.put_reply_range(record.address, record.length,
                         [&](uint32_t a) { return device.g14.read(in_bank(record.address, a)); });
}

void write_list(Device& device, const uint8_t* sector, SectorRecord& record) {
  const uint32_t n = std::min(record.length, kMaxEntries);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* entry = sector + kData + kEntrySize * i;
    device.g14.write(get_field(entry, kEntryBank) | get_field(entry, kEntryOffset),
                     static_cast<uint8_t>(get_field(entry, kEntryValue)));
  }
}

// Commands 0x05 and 0x06: at most room bytes, each added to the selector's sum.
template <uint32_t kRoom>
void write_summed(Device& device, const uint8_t* sector, SectorRecord& record) {
  uint8_t& sum = device.g14.selector_sums[get_field(sector, kSelector)];
  store_range(record.address, sector + kData, std::min(record.length, kRoom), [&](uint32_t a, uint8_t value) {
    device.g14.write(in_bank(record.address, a), value);
    sum = static_cast<uint8_t>(sum + value);
  });
}

void selector_sum(Device& device, const uint8_t* sector, SectorRecord&) {
  device.put_reply(&device.g14.selector_sums[get_field(sector, kSelector)], 1);
}

void write_full(Device& device, const uint8_t* sector, SectorRecord& record) {
  store_range(record.address, sector + kData, std::min(record.length, kDataRoom),
              [&](uint32_t a, uint8_t value) { device.g14.write(a, value); });
}

// Commands that name a bank record the banked address.
constexpr CommandEntry in_bank_command(uint8_t code, CommandHandler run) {
  return {.command = code, .run = run, .address = kOffset, .upper_address = kBankOfAddress, .length = kLength};
}

constexpr CommandEntry kCommands[] = {
    {.command = 0x01, .run = prepare},
    {.command = 0x02, .run = start_session},
    in_bank_command(0x03, read),
    in_bank_command(0x04, write_list),
    in_bank_command(0x05, write_summed<kDataRoom>),
    in_bank_command(0x06, write_summed<kMaxBlock>),
    {.command = 0x07, .run = selector_sum},
    {.command = 0x08, .run = write_full, .address = kFullAddress, .length = kFullLength},
};

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

std::span<const CommandEntry> group_14_commands() { return kCommands; }

}  // namespace cartdump::sim

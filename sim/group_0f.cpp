#include "sim/group_0f.h"

#include <algorithm>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

// Layout A.
constexpr SectorField kAddressA{3, 3};
constexpr SectorField kLengthA{6, 2};
constexpr SectorField kValueA{7, 1};

// Layout B.
constexpr SectorField kAddressB{4, 4};
constexpr SectorField kAddressB24{4, 3};
constexpr SectorField kLengthB{8, 4};
constexpr uint16_t kDataB = 12;
constexpr uint32_t kDataRoom = 498;  // bytes 12-509

constexpr uint32_t kUnlock1 = 0x8AAA;
constexpr uint32_t kUnlock2 = 0x8555;
constexpr uint32_t kAnyAddress = 0xFFFFFFFF;
constexpr uint8_t kReset = 0xF0;

enum class Effect : uint8_t { none, erase_chip, erase_sector };

struct Transition {
  FlashCycle from;
  uint32_t address;  // kAnyAddress: wherever the cycle goes
  uint8_t value;
  FlashCycle to;
  Effect effect = Effect::none;
};

constexpr Transition kTransitions[] = {
    {FlashCycle::reading, kUnlock1, 0xAA, FlashCycle::unlocked},
    {FlashCycle::unlocked, kUnlock2, 0x55, FlashCycle::command},
    {FlashCycle::command, kUnlock1, 0xA0, FlashCycle::program},
    {FlashCycle::command, kUnlock1, 0x80, FlashCycle::erase_set_up},
    {FlashCycle::erase_set_up, kUnlock1, 0xAA, FlashCycle::erase_unlocked},
    {FlashCycle::erase_unlocked, kUnlock2, 0x55, FlashCycle::erase_command},
    {FlashCycle::erase_command, kUnlock1, 0x10, FlashCycle::reading, Effect::erase_chip},
    {FlashCycle::erase_command, kAnyAddress, 0x30, FlashCycle::reading, Effect::erase_sector},
};

void prepare(Device& device, const uint8_t*, SectorRecord&) {
  device.g0f.ready = true;
  device.g0f.cycle = FlashCycle::reading;
}

void read(Device& device, const uint8_t*, SectorRecord& record) {
  device.put_reply_range(record.address, record.length, [&](uint32_t a) { return device.g0f.at(a); });
}

void write_cycle(Device& device, const uint8_t* sector, SectorRecord& record) {
  record.length = 1;
  device.g0f.bus_write(record.address, static_cast<uint8_t>(get_field(sector, kValueA)));
}

void program(Device& device, const uint8_t* sector, SectorRecord& record) {
  store_range(record.address, sector + kDataB, std::min(record.length, kDataRoom),
              [&](uint32_t a, uint8_t value) { device.g0f.program(a, value); });
}

constexpr CommandEntry kCommands[] = {
    {.command = 0x01, .run = prepare},
    {.command = 0x02, .run = read, .address = kAddressA, .length = kLengthA},
    {.command = 0x03, .run = write_cycle, .address = kAddressA},
    {.command = 0x05, .run = program, .address = kAddressB, .length = kLengthB},
    {.command = 0x06, .run = program, .address = kAddressB24, .length = kLengthB},
    {.command = 0x09, .run = read, .address = kAddressB, .length = kLengthB},
    {.command = 0x0A, .run = program, .address = kAddressB, .length = kLengthB},
};

}  // namespace

uint8_t flash_fill_byte(uint32_t address) {
  return static_cast<uint8_t>((address * 13) ^ (address >> 8) ^ (address >> 16) * 0x31);
}

FlashChip::FlashChip() : memory(kFlashSize) {
  for (uint32_t a = 0; a < kFlashSize; ++a) {
    memory[a] = flash_fill_byte(a);
  }
}

void FlashChip::bus_write(uint32_t address, uint8_t value) {
  bus_writes.push_back({address, value});
  if (cycle == FlashCycle::program) {
    program(address, value);
    cycle = FlashCycle::reading;
    return;
  }
  if (value == kReset) {
    cycle = FlashCycle::reading;
    return;
  }
  const auto t = std::find_if(std::begin(kTransitions), std::end(kTransitions), [&](const Transition& x) {
    return x.from == cycle && x.value == value && (x.address == kAnyAddress || x.address == address);
  });
  if (t == std::end(kTransitions)) {
    cycle = FlashCycle::reading;  // a broken sequence: back to reading, nothing done
    return;
  }
  cycle = t->to;
  if (t->effect == Effect::erase_chip) {
    std::fill(memory.begin(), memory.end(), 0xFF);
  } else if (t->effect == Effect::erase_sector) {
    const uint32_t start = address & (kFlashSize - 1) & ~(kFlashSectorSize - 1);
    std::fill_n(memory.begin() + start, kFlashSectorSize, 0xFF);
  }
}

std::span<const CommandEntry> group_0f_commands() { return kCommands; }

}  // namespace cartdump::sim

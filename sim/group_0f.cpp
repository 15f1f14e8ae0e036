#include "sim/group_0f.h"

#include <algorithm>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

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

void read_into_reply(Device& device, uint32_t address, uint32_t length) {
  const uint32_t n = std::min(length, kReplyAreaSize);
  for (uint32_t i = 0; i < n; ++i) {
    device.reply_file[i] = device.g0f.at(address + i);
  }
}

void program_from(Device& device, uint32_t address, uint32_t length, const uint8_t* data, uint32_t room) {
  const uint32_t n = std::min(length, room);
  for (uint32_t i = 0; i < n; ++i) {
    device.g0f.program(address + i, data[i]);
  }
}

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

bool execute_group_0f(Device& device, const uint8_t* sector, SectorRecord& record) {
  const uint8_t* data = sector + 12;
  constexpr uint32_t kDataRoom = 498;  // bytes 12-509
  switch (sector[2]) {
    case 0x01:
      device.g0f.ready = true;
      device.g0f.cycle = FlashCycle::reading;
      return true;
    case 0x02:
      record.address = sector_field(sector, 3, 3);
      record.length = sector_field(sector, 6, 2);
      read_into_reply(device, record.address, record.length);
      return true;
    case 0x03:
      record.address = sector_field(sector, 3, 3);
      record.length = 1;
      device.g0f.bus_write(record.address, sector[7]);
      return true;
    case 0x05:
    case 0x0A:
      record.address = sector_field(sector, 4, 4);
      record.length = sector_field(sector, 8, 4);
      program_from(device, record.address, record.length, data, kDataRoom);
      return true;
    case 0x06:
      record.address = sector_field(sector, 4, 3);
      record.length = sector_field(sector, 8, 4);
      program_from(device, record.address, record.length, data, kDataRoom);
      return true;
    case 0x09:
      record.address = sector_field(sector, 4, 4);
      record.length = sector_field(sector, 8, 4);
      read_into_reply(device, record.address, record.length);
      return true;
    default:
      return false;
  }
}

}  // namespace cartdump::sim

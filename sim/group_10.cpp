#include "sim/group_10.h"

#include <algorithm>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

constexpr SectorField kAddress{3, 4};
constexpr SectorField kLength{7, 2};
constexpr uint16_t kPayload = 9;
constexpr uint32_t kMaxChunk = 500;

// The bytes a read or write of length moves: a length of 1 is one 16-bit word.
uint32_t moved(uint32_t length) { return length == 1 ? 2 : length; }

void prepare(Device& device, const uint8_t*, SectorRecord&) { device.g10.ready = true; }

void take_address(Device& device, const uint8_t*, SectorRecord& record) {
  device.g10.last_address = record.address;
}

void read(Device& device, const uint8_t*, SectorRecord& record) {
  device.put_reply_range(record.address, moved(record.length), [&](uint32_t a) { return device.g10.read(a); });
}

void write(Device& device, const uint8_t* sector, SectorRecord& record) {
  store_range(record.address, sector + kPayload, std::min(moved(record.length), kMaxChunk),
              [&](uint32_t a, uint8_t value) { device.g10.write(a, value); });
}

constexpr CommandEntry kCommands[] = {
    {.command = 0x01, .run = prepare},
    {.command = 0x02, .run = take_address, .address = kAddress},
    {.command = 0x03, .run = read, .address = kAddress, .length = kLength},
    {.command = 0x04, .run = write, .address = kAddress, .length = kLength},
};

}  // namespace

uint8_t N64Slot::read(uint32_t address) const {
  if (address >= kN64RomBase && address - kN64RomBase < rom.size()) {
    return rom[address - kN64RomBase];
  }
  const uint32_t word_address = address & ~1u;
  return static_cast<uint8_t>((address & 1) ? word_address : word_address >> 8);
}

void N64Slot::write(uint32_t address, uint8_t value) {
  if (address >= kN64RomBase && address - kN64RomBase < rom.size()) {
    rom[address - kN64RomBase] = value;
  }
}

std::span<const CommandEntry> group_10_commands() { return kCommands; }

}  // namespace cartdump::sim

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

// splitmix64: the bits the faults flip, the same for the same seed.
uint64_t next_random(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void flip_bit(Device& device, uint64_t bit) { device.reply_file[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8)); }

// The faults of a read's reply of n bytes, once the device has put it in place.
void apply_faults(Device& device, const SectorRecord& record, uint32_t n) {
  N64Slot& slot = device.g10;
  const N64Faults& faults = slot.faults;
  const uint64_t bits = uint64_t{std::min(n, kReplyAreaSize)} * 8;
  if (faults.zero_after && device.log.size() >= *faults.zero_after) {
    std::fill_n(device.reply_file.begin(), bits / 8, uint8_t{0});
  }
  if (faults.corrupt_every != 0 && slot.reads % faults.corrupt_every == 0) {
    flip_bit(device, next_random(slot.random) % bits);
  }
  if (faults.corrupt_at && *faults.corrupt_at - record.address < n) {
    // Another bit than last time, so that two reads in a row never agree.
    slot.last_flip = bits > 1 ? (slot.last_flip + 1 + next_random(slot.random) % (bits - 1)) % bits : 0;
    flip_bit(device, slot.last_flip);
  }
  if (faults.lag) {
    std::vector<uint8_t> now(device.reply_file.begin(), device.reply_file.begin() + kReplyAreaSize);
    if (!slot.lagging.empty()) std::copy(slot.lagging.begin(), slot.lagging.end(), device.reply_file.begin());
    slot.lagging = std::move(now);
  }
}

void prepare(Device& device, const uint8_t*, SectorRecord&) { device.g10.ready = true; }

void take_address(Device& device, const uint8_t*, SectorRecord& record) {
  device.g10.last_address = record.address;
}

void read(Device& device, const uint8_t*, SectorRecord& record) {
  ++device.g10.reads;
  const uint32_t n = moved(record.length);
  device.put_reply_range(record.address, n, [&](uint32_t a) { return device.g10.read(a); });
  apply_faults(device, record, n);
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
  const uint32_t offset = address - kN64RomBase;
  if (address >= kN64RomBase && offset < rom.size()) {
    return rom[offset];
  }
  if (beyond == Beyond::mirror && address >= kN64RomBase && offset < kN64RomWindow && !rom.empty()) {
    return rom[offset % rom.size()];
  }
  // fill and openbus: the 16-bit word at the even address reads as that address's low 16 bits.
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

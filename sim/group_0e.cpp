#include "sim/group_0e.h"

#include <algorithm>
#include <cstring>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

constexpr SectorField kCount{3, 1};
constexpr SectorField kAddress{4, 2};
constexpr SectorField kLength{8, 2};
constexpr SectorField kValues[] = {{12, 2}, {16, 2}, {20, 2}, {24, 2}};
constexpr uint16_t kPayload = 12;
constexpr uint32_t kMaxChunk = 498;

// Command 0x13's (address, value) entries: 4 bytes each from the payload on.
constexpr uint32_t kListCapacity = 124;
constexpr uint16_t kListEntrySize = 4;
constexpr SectorField kEntryAddress{0, 2};
constexpr SectorField kEntryValue{2, 1};

bool identity_takes_blowfish(const Device& device) {
  return std::memcmp(device.reply_file.data() + kIdentityOffset, "NES", 3) == 0;
}

void unscramble(Device& device, uint8_t* head) {
  if (identity_takes_blowfish(device)) {
    blowfish_unscramble(device.g0e.cipher, device.config.device_id, head);
  } else {
    xor_unscramble(device.reply_file.data() + kIdentityOffset + 512, head);
  }
}

uint8_t& byte_of(std::vector<uint8_t>& space, uint32_t address) { return space[address % kSpace0eSize]; }

void reply_from(Device& device, std::vector<uint8_t>& space, const SectorRecord& record) {
  device.put_reply_range(record.address, record.length, [&](uint32_t a) { return byte_of(space, a); });
}

void store(Device& device, std::vector<uint8_t>& space, const uint8_t* sector, const SectorRecord& record,
           bool scrambled) {
  std::array<uint8_t, kMaxChunk> payload{};
  std::copy_n(sector + kPayload, payload.size(), payload.begin());
  if (scrambled) {
    unscramble(device, payload.data());
  }
  store_range(record.address, payload.data(), std::min(record.length, kMaxChunk),
              [&](uint32_t a, uint8_t value) { byte_of(space, a) = value; });
}

void set_up_scrambling(Device& device, const uint8_t*, SectorRecord&) { device.g0e.scrambling_ready = true; }

template <int kSpace>
void read(Device& device, const uint8_t*, SectorRecord& record) {
  reply_from(device, device.g0e.spaces[kSpace], record);
}

template <int kSpace>
void write(Device& device, const uint8_t* sector, SectorRecord& record) {
  store(device, device.g0e.spaces[kSpace], sector, record, false);
}

template <int kSpace>
void scrambled_write(Device& device, const uint8_t* sector, SectorRecord& record) {
  store(device, device.g0e.spaces[kSpace], sector, record, true);
}

void set_values(Device& device, const uint8_t* sector, SectorRecord&) {
  for (size_t i = 0; i < device.g0e.values.size(); ++i) {
    device.g0e.values[i] = static_cast<uint16_t>(get_field(sector, kValues[i]));
  }
}

void status(Device& device, const uint8_t*, SectorRecord&) {
  const uint8_t status = device.g0e.scrambling_ready ? 0x01 : 0x00;
  device.put_reply(&status, 1);
}

void read_with_list(Device& device, const uint8_t* sector, SectorRecord& record) {
  std::vector<uint8_t>& space = device.g0e.spaces[0];
  const uint32_t n = std::min(get_field(sector, kCount), kListCapacity);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* entry = sector + kPayload + kListEntrySize * i;
    byte_of(space, get_field(entry, kEntryAddress)) = static_cast<uint8_t>(get_field(entry, kEntryValue));
  }
  reply_from(device, space, record);
}

// Every command records its address and length fields.
constexpr CommandEntry command(uint8_t code, CommandHandler run) {
  return {.command = code, .run = run, .address = kAddress, .length = kLength};
}

constexpr CommandEntry kCommands[] = {
    command(0x01, set_up_scrambling), command(0x04, read<0>),
    command(0x05, write<0>),          command(0x06, write<1>),
    command(0x07, read<1>),           command(0x08, write<1>),
    command(0x09, scrambled_write<0>), command(0x0A, scrambled_write<1>),
    command(0x0B, set_values),        command(0x12, status),
    command(0x13, read_with_list),    command(0x80, write<0>),
};

}  // namespace

std::span<const CommandEntry> group_0e_commands() { return kCommands; }

}  // namespace cartdump::sim

// Group 0x0E on the device: two 64 KiB byte-wide spaces (sim/group_0e.h), addresses wrapping within
// 16 bits. Sector fields: entry count at 3, address at 4-5, length at 8-9, payload from 12.
//   0x01 sets up the scrambling (status bit 0)     0x0B takes four values at 12, 16, 20 and 24
//   0x04 / 0x07 read space 0 / 1                   0x12 replies the status byte
//   0x05 / 0x08 write space 0 / 1                  0x13 writes its (address, value) entries into
//   0x06 writes space 1                                 space 0, then reads space 0
//   0x09 / 0x0A scrambled write to space 0 / 1     0x80 writes space 0 (blank chunks never arrive;
//                                                       the space is erased, so they read as 0xFF)
// A scrambled write's first 8 payload bytes are undone before they are stored: with Blowfish keyed
// by the DeviceId when the identity block begins "NES", else with the XOR key at identity bytes
// 512-519, the two ways the host chooses between by reading the same block.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

enum class Op : uint8_t { init, read, write, scrambled_write, set_values, status, read_with_list };

struct CommandEntry {
  uint8_t command;
  Op op;
  uint8_t space;
};

constexpr CommandEntry kCommands[] = {
    {0x01, Op::init, 0},        {0x04, Op::read, 0},
    {0x05, Op::write, 0},       {0x06, Op::write, 1},
    {0x07, Op::read, 1},        {0x08, Op::write, 1},
    {0x09, Op::scrambled_write, 0}, {0x0A, Op::scrambled_write, 1},
    {0x0B, Op::set_values, 0},  {0x12, Op::status, 0},
    {0x13, Op::read_with_list, 0},  {0x80, Op::write, 0},
};

constexpr uint32_t kPayload = 12;
constexpr uint32_t kMaxChunk = 498;
constexpr uint32_t kListCapacity = 124;

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

void store(std::vector<uint8_t>& space, uint32_t address, const uint8_t* data, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    space[(address + i) % kSpace0eSize] = data[i];
  }
}

void reply_range(Device& device, const std::vector<uint8_t>& space, uint32_t address, uint32_t length) {
  const uint32_t bytes = std::min(length, kReplyAreaSize);
  for (uint32_t i = 0; i < bytes; ++i) {
    device.reply_file[i] = space[(address + i) % kSpace0eSize];
  }
}

}  // namespace

bool execute_group_0e(Device& device, const uint8_t* sector, SectorRecord& record) {
  const auto entry = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [&](const CommandEntry& e) { return e.command == sector[2]; });
  if (entry == std::end(kCommands)) {
    return false;
  }
  Group0eModel& model = device.g0e;
  std::vector<uint8_t>& space = model.spaces[entry->space];
  const uint32_t address = sector_field(sector, 4, 2);
  const uint32_t length = sector_field(sector, 8, 2);
  record.address = address;
  record.length = length;
  switch (entry->op) {
    case Op::init:
      model.scrambling_ready = true;
      break;
    case Op::read:
      reply_range(device, space, address, length);
      break;
    case Op::write:
    case Op::scrambled_write: {
      std::array<uint8_t, kMaxChunk> payload{};
      std::copy_n(sector + kPayload, payload.size(), payload.begin());
      if (entry->op == Op::scrambled_write) {
        unscramble(device, payload.data());
      }
      store(space, address, payload.data(), std::min(length, kMaxChunk));
      break;
    }
    case Op::set_values:
      for (uint32_t i = 0; i < model.values.size(); ++i) {
        model.values[i] = static_cast<uint16_t>(sector_field(sector, kPayload + 4 * i, 2));
      }
      break;
    case Op::status: {
      const uint8_t status = model.scrambling_ready ? 0x01 : 0x00;
      device.put_reply(&status, 1);
      break;
    }
    case Op::read_with_list: {
      const uint32_t n = std::min<uint32_t>(sector[3], kListCapacity);
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* list_entry = sector + kPayload + 4 * i;
        space[sector_field(list_entry, 0, 2)] = list_entry[2];
      }
      reply_range(device, space, address, length);
      break;
    }
  }
  return true;
}

}  // namespace cartdump::sim

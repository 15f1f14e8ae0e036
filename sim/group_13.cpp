// Group 0x13 on the device: one byte-addressed memory over the 32-bit range (sim/group_13.h) that
// holds 16-bit words high byte first. Sector fields: address at 3-6, length at 7-8, payload from 9.
//   0x01 prepares the memory
//   0x03 reads length bytes from a byte address
//   0x05 writes length bytes (a word high byte first when length is 2) to a word address
//   0x06 writes one word, sent low byte first, to a word address
//   0x07 / 0x08 write as 0x05 after undoing the Blowfish scrambling of the first 8 payload bytes,
//        keyed by the DeviceId (0x08 is the skip-blank write: blank chunks never arrive, and the
//        memory is erased, so they read back as 0xFF)
// Writes count their address in words: byte address = 2 * word address (modulo 2^32).
#include <algorithm>
#include <iterator>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

enum class Op : uint8_t { init, read, write, write_low_first, scrambled_write };

struct CommandEntry {
  uint8_t command;
  Op op;
};

constexpr CommandEntry kCommands[] = {
    {0x01, Op::init},  {0x03, Op::read},
    {0x05, Op::write}, {0x06, Op::write_low_first},
    {0x07, Op::scrambled_write}, {0x08, Op::scrambled_write},
};

constexpr uint32_t kPayload = 9;
constexpr uint32_t kMaxChunk = 500;

void store(Group13Model& model, uint32_t word_address, const uint8_t* data, uint32_t length) {
  const uint32_t base = word_address * 2;
  for (uint32_t i = 0; i < length; ++i) {
    model.write(base + i, data[i]);
  }
}

}  // namespace

uint8_t Group13Model::read(uint32_t address) const {
  const auto page = pages.find(address / kPageSize);
  return page == pages.end() ? 0xFF : page->second[address % kPageSize];
}

void Group13Model::write(uint32_t address, uint8_t value) {
  auto [page, added] = pages.try_emplace(address / kPageSize);
  if (added) {
    page->second.assign(kPageSize, 0xFF);
  }
  page->second[address % kPageSize] = value;
}

bool execute_group_13(Device& device, const uint8_t* sector, SectorRecord& record) {
  const auto entry = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [&](const CommandEntry& e) { return e.command == sector[2]; });
  if (entry == std::end(kCommands)) {
    return false;
  }
  Group13Model& model = device.g13;
  const uint32_t address = sector_field(sector, 3, 4);
  const uint32_t length = sector_field(sector, 7, 2);
  record.address = address;
  record.length = length;
  std::array<uint8_t, kMaxChunk> payload{};
  std::copy_n(sector + kPayload, payload.size(), payload.begin());
  switch (entry->op) {
    case Op::init:
      model.ready = true;
      break;
    case Op::read: {
      const uint32_t bytes = std::min(length, kReplyAreaSize);
      for (uint32_t i = 0; i < bytes; ++i) {
        device.reply_file[i] = model.read(address + i);
      }
      break;
    }
    case Op::write_low_first:
      std::swap(payload[0], payload[1]);
      store(model, address, payload.data(), 2);
      break;
    case Op::scrambled_write:
      blowfish_unscramble(model.cipher, device.config.device_id, payload.data());
      store(model, address, payload.data(), std::min(length, kMaxChunk));
      break;
    case Op::write:
      store(model, address, payload.data(), std::min(length, kMaxChunk));
      break;
  }
  return true;
}

}  // namespace cartdump::sim

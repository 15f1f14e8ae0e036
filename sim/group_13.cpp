#include "sim/group_13.h"

#include <algorithm>
#include <array>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

constexpr SectorField kAddress{3, 4};
constexpr SectorField kLength{7, 2};
constexpr uint16_t kPayload = 9;
constexpr uint32_t kMaxChunk = 500;
constexpr uint32_t kWordBytes = 2;

using Payload = std::array<uint8_t, kMaxChunk>;

Payload payload_of(const uint8_t* sector) {
  Payload payload{};
  std::copy_n(sector + kPayload, payload.size(), payload.begin());
  return payload;
}

void store(Device& device, uint32_t word_address, const Payload& payload, uint32_t length) {
  store_range(word_address * kWordBytes, payload.data(), std::min(length, kMaxChunk),
              [&](uint32_t a, uint8_t value) { device.g13.write(a, value); });
}

void prepare(Device& device, const uint8_t*, SectorRecord&) { device.g13.ready = true; }

void read(Device& device, const uint8_t*, SectorRecord& record) {
  device.put_reply_range(record.address, record.length, [&](uint32_t a) { return device.g13.read(a); });
}

void write(Device& device, const uint8_t* sector, SectorRecord& record) {
  store(device, record.address, payload_of(sector), record.length);
}

void write_low_first(Device& device, const uint8_t* sector, SectorRecord& record) {
  Payload payload = payload_of(sector);
  std::swap(payload[0], payload[1]);
  store(device, record.address, payload, kWordBytes);
}

void scrambled_write(Device& device, const uint8_t* sector, SectorRecord& record) {
  Payload payload = payload_of(sector);
  blowfish_unscramble(device.g13.cipher, device.config.device_id, payload.data());
  store(device, record.address, payload, record.length);
}

// Every command records its address and length fields.
constexpr CommandEntry command(uint8_t code, CommandHandler run) {
  return {.command = code, .run = run, .address = kAddress, .length = kLength};
}

constexpr CommandEntry kCommands[] = {
    command(0x01, prepare),         command(0x03, read),
    command(0x05, write),           command(0x06, write_low_first),
    command(0x07, scrambled_write), command(0x08, scrambled_write),
};

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

std::span<const CommandEntry> group_13_commands() { return kCommands; }

}  // namespace cartdump::sim

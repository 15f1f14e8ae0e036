#include "carts/group_14.h"

#include <algorithm>
#include <cstring>

#include "carts/entry_list.h"
#include "link/command_patterns.h"

namespace cartdump {
namespace {

constexpr uint8_t kGroup = 0x14;

constexpr SectorField kSelector{3, 1};
constexpr SectorField kBank{4, 1};
constexpr SectorField kBankOfAddress{4, 1, 16};  // address bits 16-23
constexpr SectorField kOffset{6, 2};             // address bits 0-15
constexpr SectorField kLength{8, 2};
constexpr uint16_t kData = 12;

// Command 0x02's value follows at byte 4 when byte 3 says so.
constexpr SectorField kValueFollows = kSelector;
constexpr SectorField kValue = kBank;

// BankedEntry i: 4 bytes at 12 + 4i, the value, then the bank, then the offset low byte first.
constexpr EntryList kEntries{
    .first = kData, .size = 4, .address = {2, 2}, .upper_address = {1, 1, 16}, .value = {0, 1}};
static_assert(entry_list_fits(kEntries, kG14MaxEntries));
static_assert(kData + kG14MaxBlock <= kSectorCrcOffset);

constexpr CommandShape kRead{
    .group = kGroup, .command = 0x03, .address = kOffset, .upper_address = kBankOfAddress, .length = kLength};
constexpr BulkShape kWrite05{
    .command = {.group = kGroup, .command = 0x05, .address = kOffset, .length = kLength, .payload_offset = kData},
    .chunk = 384};
constexpr BulkShape kWrite08{
    .command = {.group = kGroup, .command = 0x08, .address = {4, 4}, .length = {8, 4}, .payload_offset = kData},
    .chunk = 498};
static_assert(bulk_shape_fits(kWrite05));
static_assert(bulk_shape_fits(kWrite08));

// Exchange codes.
constexpr uint8_t kOpen = 0x09;
constexpr uint8_t kControl[] = {0x28, 0x84};
constexpr uint8_t kBraceAnswer[] = {0x06, 0x39};
constexpr uint32_t kWaitExchanges = 30;
constexpr uint8_t kStatusQuery = 4;
constexpr uint8_t kCheckValue = 2;
constexpr uint8_t kCheckQuery = 1;
constexpr uint8_t kCheckAnswer = 4;

}  // namespace

int g14_init() { return send_command(kGroup, 0x01); }

int g14_command_02() { return send_command(kGroup, 0x02); }

int g14_command_02_value(uint8_t value) {
  return send_command(kGroup, 0x02, {{kValueFollows, 1}, {kValue, value}});
}

uint8_t g14_read_byte(uint32_t address) {
  return query_command(kGroup, 0x03, {{kBankOfAddress, address}, {kOffset, address}, {kLength, 1}})[0];
}

uint32_t g14_read(uint32_t address, uint8_t* destination, uint32_t length) {
  return ranged_read(kRead, address, destination, length);
}

int g14_write_byte(uint32_t address, uint8_t value) {
  CommandSector sector = make_sector(kGroup, 0x04, {{kBankOfAddress, address}, {kOffset, address}, {kLength, 1}});
  put_entry(sector.data(), kEntries, 0, address, value);
  return send_sector(sector);
}

int g14_write_list(const uint32_t* entry_addresses, const uint8_t* entry_values, uint8_t count) {
  const uint32_t n = std::min<uint32_t>(count, kG14MaxEntries);
  CommandSector sector = make_sector(kGroup, 0x04, {{kLength, n}});
  for (uint32_t i = 0; i < n; ++i) {
    put_entry(sector.data(), kEntries, i, entry_addresses[i], entry_values[i]);
  }
  return send_sector(sector);
}

int g14_write_05(uint8_t selector, uint8_t bank, uint32_t address, const uint8_t* source, uint32_t count) {
  return bulk_write(kWrite05, address, source, count, {{kSelector, selector}, {kBank, bank}});
}

int g14_write_block(uint8_t selector, uint8_t bank, uint16_t address, const uint8_t* source, uint16_t length) {
  const uint16_t n = std::min(length, kG14MaxBlock);
  CommandSector sector =
      make_sector(kGroup, 0x06, {{kSelector, selector}, {kBank, bank}, {kOffset, address}, {kLength, n}});
  if (n > 0) {
    std::memcpy(sector.data() + kData, source, n);
  }
  return send_sector(sector);
}

uint8_t g14_command_07(uint8_t selector) { return query_command(kGroup, 0x07, {{kSelector, selector}})[0]; }

int g14_write_08(uint32_t address, const uint8_t* source, uint32_t count) {
  return bulk_write(kWrite08, address, source, count);
}

uint8_t g14_exchange_2400(uint8_t value) {
  g14_write_byte(kG14DataPort, kOpen);
  const uint8_t greeting = g14_read_byte(kG14DataPort);
  for (const uint8_t code : kControl) {
    g14_write_byte(kG14ControlPort, code);
  }
  if (greeting == kG14Brace) {
    for (const uint8_t code : kBraceAnswer) {
      g14_write_byte(kG14DataPort, code);
    }
  }
  g14_write_byte(kG14DataPort, value);
  return g14_read_byte(kG14DataPort);
}

bool g14_wait_for_star() {
  g14_command_02_value(0);
  if (g14_read_byte(kG14DataPort) == kG14Star) {
    return true;
  }
  for (uint32_t i = 0; i < kWaitExchanges; ++i) {
    if (g14_exchange_2400(kStatusQuery) == kG14Star) {
      return true;
    }
  }
  return false;
}

bool g14_check_exchange() {
  if (g14_exchange_2400(kStatusQuery) != kG14Star) {
    return false;
  }
  g14_exchange_2400(kCheckValue);
  return g14_exchange_2400(kCheckQuery) == kCheckAnswer;
}

}  // namespace cartdump

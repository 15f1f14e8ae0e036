#include "carts/group_0f.h"

#include "carts/byte_step.h"
#include "link/command_patterns.h"

namespace cartdump {
namespace {

constexpr uint8_t kGroup = 0x0F;

// Layout A.
constexpr SectorField kAddressA{3, 3};
constexpr SectorField kLengthA{6, 2};
constexpr SectorField kValueA{7, 1};

// Layout B.
constexpr SectorField kAddressB{4, 4};
constexpr SectorField kAddressB24{4, 3};
constexpr SectorField kLengthB{8, 4};
constexpr uint16_t kDataB = 12;
constexpr SectorField kValueB{kDataB, 1};

constexpr CommandShape kReadA{.group = kGroup, .command = 0x02, .address = kAddressA, .length = kLengthA};
constexpr CommandShape kReadB{.group = kGroup, .command = 0x09, .address = kAddressB, .length = kLengthB};

constexpr BulkShape kWrite05{
    .command = {.group = kGroup, .command = 0x05, .address = kAddressB, .length = kLengthB, .payload_offset = kDataB},
    .chunk = 480};
constexpr BulkShape kWrite06{
    .command = {.group = kGroup, .command = 0x06, .address = kAddressB24, .length = kLengthB, .payload_offset = kDataB},
    .chunk = 480};
constexpr BulkShape kWrite0A{
    .command = {.group = kGroup, .command = 0x0A, .address = kAddressB, .length = kLengthB, .payload_offset = kDataB},
    .chunk = 498};
static_assert(bulk_shape_fits(kWrite05));
static_assert(bulk_shape_fits(kWrite06));
static_assert(bulk_shape_fits(kWrite0A));

// The flash command cycles in front of both erases: reset, unlock, erase set-up, unlock.
constexpr uint32_t kUnlockAddress1 = 0x8AAA;
constexpr uint32_t kUnlockAddress2 = 0x8555;
constexpr ByteStep kEraseSetUp[] = {
    {kUnlockAddress1, 0xF0}, {kUnlockAddress1, 0xAA}, {kUnlockAddress2, 0x55},
    {kUnlockAddress1, 0x80}, {kUnlockAddress1, 0xAA}, {kUnlockAddress2, 0x55},
};
constexpr uint8_t kChipErase = 0x10;
constexpr uint8_t kSectorErase = 0x30;

void erase(uint32_t address, uint8_t code) {
  for (const ByteStep& step : kEraseSetUp) {
    g0f_write_byte(step.address, step.value);
  }
  g0f_write_byte(address, code);
}

}  // namespace

int g0f_init() { return send_command(kGroup, 0x01); }

uint8_t g0f_read_byte(uint32_t address) {
  return query_command(kGroup, 0x02, {{kAddressA, address}, {kLengthA, 1}})[0];
}

uint32_t g0f_read(uint32_t address, uint8_t* destination, uint32_t length) {
  return ranged_read(kReadA, address, destination, length);
}

int g0f_write_byte(uint32_t address, uint8_t value) {
  return send_command(kGroup, 0x03, {{kAddressA, address}, {kValueA, value}});
}

int g0f_write_05(uint32_t address, const uint8_t* source, uint32_t count) {
  return bulk_write(kWrite05, address, source, count);
}

int g0f_write_06(uint32_t address, const uint8_t* source, uint32_t count) {
  return bulk_write(kWrite06, address, source, count);
}

uint8_t g0f_read_byte_09(uint32_t address) {
  return query_command(kGroup, 0x09, {{kAddressB, address}, {kLengthB, 1}})[0];
}

uint32_t g0f_read_09(uint32_t address, uint8_t* destination, uint32_t length) {
  return ranged_read(kReadB, address, destination, length);
}

int g0f_write_byte_0a(uint32_t address, uint8_t value) {
  return send_command(kGroup, 0x0A, {{kAddressB, address}, {kLengthB, 1}, {kValueB, value}});
}

int g0f_write_0a(uint32_t address, const uint8_t* source, uint32_t count) {
  return bulk_write(kWrite0A, address, source, count);
}

void g0f_erase_chip() { erase(kUnlockAddress1, kChipErase); }

void g0f_erase_sector(uint32_t sector_address) { erase(sector_address, kSectorErase); }

}  // namespace cartdump

#include "carts/group_0e.h"

#include <algorithm>

#include "carts/entry_list.h"
#include "carts/scrambling.h"
#include "carts/treated_write.h"
#include "link/command_patterns.h"

namespace cartdump {
namespace {

constexpr SectorField kCount{3, 1};
constexpr SectorField kAddress{4, 2};
constexpr SectorField kLength{8, 2};
constexpr SectorField kByteValue{12, 1};
constexpr SectorField kValues[] = {{12, 2}, {16, 2}, {20, 2}, {24, 2}};
constexpr uint16_t kPayload = 12;
// Entry i of command 0x13's list: 4 bytes at 12 + 4i, the address low byte first, then the value.
constexpr EntryList kList{.first = kPayload, .size = 4, .address = {0, 2}, .value = {2, 1}};

constexpr CommandShape read_shape(uint8_t command) {
  return {.group = kGroup0e, .command = command, .address = kAddress, .length = kLength};
}

constexpr BulkShape write_shape(uint8_t command, uint16_t chunk) {
  return {.command = {.group = kGroup0e, .command = command, .address = kAddress, .length = kLength,
                      .payload_offset = kPayload},
          .chunk = chunk};
}

constexpr BulkShape kWrite05 = write_shape(0x05, 498);
constexpr BulkShape kWrite08 = write_shape(0x08, 498);
constexpr TreatedBulkShape kWrite09{write_shape(0x09, 498), Scrambling::payload_head};
constexpr TreatedBulkShape kWrite0a{write_shape(0x0A, 498), Scrambling::payload_head};
constexpr TreatedBulkShape kWriteSkipBlank{write_shape(0x80, kBlankAreaSize), Scrambling::none, BlankTest::area_crc};
static_assert(bulk_shape_fits(kWrite05) && bulk_shape_fits(kWrite08) && treated_bulk_shape_fits(kWrite09) &&
              treated_bulk_shape_fits(kWrite0a) && treated_bulk_shape_fits(kWriteSkipBlank));
static_assert(entry_list_fits(kList, kListCapacity));

uint8_t read_byte(uint8_t command, uint16_t address) {
  return query_command(kGroup0e, command, {{kAddress, address}, {kLength, 1}})[0];
}

int write_byte(uint8_t command, uint16_t address, uint8_t value) {
  return send_command(kGroup0e, command, {{kAddress, address}, {kLength, 1}, {kByteValue, value}});
}

}  // namespace

int g0e_init_scrambling() {
  const int sent = send_command(kGroup0e, 0x01);
  scrambling_select();
  return sent;
}

uint8_t g0e_read_byte_04(uint16_t address) { return read_byte(0x04, address); }
uint8_t g0e_read_byte_07(uint16_t address) { return read_byte(0x07, address); }
int g0e_write_byte_05(uint16_t address, uint8_t value) { return write_byte(0x05, address, value); }
int g0e_write_byte_06(uint16_t address, uint8_t value) { return write_byte(0x06, address, value); }
int g0e_write_byte_08(uint16_t address, uint8_t value) { return write_byte(0x08, address, value); }

uint32_t g0e_read_04(uint16_t address, uint8_t* destination, uint16_t length) {
  return ranged_read(read_shape(0x04), address, destination, length);
}

uint32_t g0e_read_07(uint16_t address, uint8_t* destination, uint16_t length) {
  return ranged_read(read_shape(0x07), address, destination, length);
}

uint32_t g0e_read_with_list(uint16_t address, uint8_t* destination, uint16_t length,
                            const uint16_t* entry_addresses, const uint8_t* entry_values, uint8_t count) {
  const uint8_t n = std::min(count, kListCapacity);
  CommandSector preset = make_sector(kGroup0e, 0x13, {{kCount, n}});
  for (uint32_t i = 0; i < n; ++i) {
    put_entry(preset.data(), kList, i, entry_addresses[i], entry_values[i]);
  }
  return ranged_read(read_shape(0x13), address, destination, length, preset);
}

int g0e_write_05(uint16_t address, const uint8_t* source, uint16_t count) {
  return bulk_write(kWrite05, address, source, count);
}

int g0e_write_08(uint16_t address, const uint8_t* source, uint16_t count) {
  return bulk_write(kWrite08, address, source, count);
}

int g0e_write_scrambled_09(uint16_t address, const uint8_t* source, uint16_t count) {
  return treated_bulk_write(kWrite09, address, source, count);
}

int g0e_write_scrambled_0a(uint16_t address, const uint8_t* source, uint16_t count) {
  return treated_bulk_write(kWrite0a, address, source, count);
}

int g0e_write_skip_blank(uint16_t address, const uint8_t* source, uint16_t count) {
  return treated_bulk_write(kWriteSkipBlank, address, source, count);
}

int g0e_set_values(uint16_t first, uint16_t second, uint16_t third, uint16_t fourth) {
  return send_command(kGroup0e, 0x0B,
                      {{kValues[0], first}, {kValues[1], second}, {kValues[2], third}, {kValues[3], fourth}});
}

uint8_t g0e_read_status() { return query_command(kGroup0e, 0x12)[0]; }

}  // namespace cartdump

#include "carts/group_10.h"

#include "link/command_patterns.h"

namespace cartdump {
namespace {

constexpr uint8_t kGroup = 0x10;
constexpr SectorField kAddress{3, 4};
constexpr SectorField kLength{7, 2};
constexpr SectorField kWordValue{9, 2};

constexpr CommandShape kRead{.group = kGroup, .command = 0x03, .address = kAddress, .length = kLength};
constexpr BulkShape kWrite{
    .command = {.group = kGroup, .command = 0x04, .address = kAddress, .length = kLength, .payload_offset = 9},
    .chunk = 500};
static_assert(bulk_shape_fits(kWrite));

}  // namespace

int n64_init() { return send_command(kGroup, 0x01); }

int n64_address_command(uint32_t address) { return send_command(kGroup, 0x02, {{kAddress, address}}); }

uint16_t n64_read_word(uint32_t address) {
  const ReplyBlock reply = query_command(kGroup, 0x03, {{kAddress, address}, {kLength, 1}});
  return static_cast<uint16_t>(reply[0] | reply[1] << 8);
}

uint32_t n64_read(uint32_t address, uint8_t* destination, uint32_t length) {
  return ranged_read(kRead, address, destination, length);
}

int n64_write_word(uint32_t address, uint16_t value) {
  return send_command(kGroup, 0x04, {{kAddress, address}, {kLength, 1}, {kWordValue, value}});
}

int n64_write(uint32_t address, const uint8_t* source, uint32_t count) {
  return bulk_write(kWrite, address, source, count);
}

}  // namespace cartdump

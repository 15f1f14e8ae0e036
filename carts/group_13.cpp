#include "carts/group_13.h"

#include "carts/treated_write.h"
#include "link/command_patterns.h"

namespace cartdump {
namespace {

constexpr SectorField kAddress{3, 4};
constexpr SectorField kLength{7, 2};
constexpr SectorField kWordLowFirst{9, 2};
constexpr SectorField kWordHighByte{9, 1, 8};
constexpr SectorField kWordLowByte{10, 1};
constexpr uint16_t kPayload = 9;
constexpr uint32_t kWordBytes = 2;

constexpr CommandShape kRead{.group = kGroup13, .command = 0x03, .address = kAddress, .length = kLength};

// Bulk writes count their address in words: the address advances by n / 2 per chunk.
constexpr BulkShape write_shape(uint8_t command, uint16_t chunk, uint8_t first_address_shift) {
  return {.command = {.group = kGroup13, .command = command, .address = kAddress, .length = kLength,
                      .payload_offset = kPayload},
          .chunk = chunk,
          .first_address_shift = first_address_shift,
          .advance_shift = 1};
}

constexpr BulkShape kWrite05 = write_shape(0x05, 500, 0);
constexpr TreatedBulkShape kWriteScrambled{write_shape(0x07, 500, 1), Scrambling::cipher};
constexpr TreatedBulkShape kWriteSkipBlank{write_shape(0x08, 480, 1), Scrambling::cipher, BlankTest::all_ff};
static_assert(bulk_shape_fits(kWrite05) && treated_bulk_shape_fits(kWriteScrambled) &&
              treated_bulk_shape_fits(kWriteSkipBlank));

}  // namespace

int g13_init() { return send_command(kGroup13, 0x01); }

uint16_t g13_read_word(uint32_t address) {
  const ReplyBlock reply = query_command(kGroup13, 0x03, {{kAddress, address}, {kLength, kWordBytes}});
  return static_cast<uint16_t>(reply[0] << 8 | reply[1]);
}

uint32_t g13_read(uint32_t address, uint8_t* destination, uint32_t length) {
  return ranged_read(kRead, address, destination, length);
}

int g13_write_word_05(uint32_t address, uint16_t value) {
  return send_command(kGroup13, 0x05,
                      {{kAddress, address}, {kLength, kWordBytes}, {kWordHighByte, value}, {kWordLowByte, value}});
}

int g13_write_word_06(uint32_t address, uint16_t value) {
  return send_command(kGroup13, 0x06, {{kAddress, address}, {kLength, kWordBytes}, {kWordLowFirst, value}});
}

int g13_write_05(uint32_t address, const uint8_t* source, uint32_t count) {
  return bulk_write(kWrite05, address, source, count);
}

int g13_write_scrambled(uint32_t address, const uint8_t* source, uint32_t count) {
  return treated_bulk_write(kWriteScrambled, address, source, count);
}

int g13_write_skip_blank(uint32_t address, const uint8_t* source, uint32_t count) {
  return treated_bulk_write(kWriteSkipBlank, address, source, count);
}

}  // namespace cartdump

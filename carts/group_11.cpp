#include "carts/group_11.h"

#include <span>

#include "carts/byte_step.h"
#include "link/command_patterns.h"
#include "link/device_link.h"

namespace cartdump {
namespace {

constexpr uint8_t kGroup = 0x11;
constexpr SectorField kAddress{3, 3};
constexpr SectorField kValue{6, 1};

constexpr BulkShape kWrite{
    .command = {.group = kGroup, .command = 0x02, .address = kAddress, .payload_offset = 6},
    .chunk = 1};
static_assert(bulk_shape_fits(kWrite));

constexpr uint32_t kDumpBlockMask = 0xFFFC00;  // the 1024-byte block of a 24-bit address
constexpr uint32_t kDumpByteMask = 0x3FF;

constexpr ByteStep kSequenceA[] = {
    {0x0D0000, 0x68}, {0x0F0000, 0x00}, {0x0F0000, 0x73}, {0x0F0000, 0x73}, {0x0F0000, 0x73},
};
constexpr ByteStep kSequenceB[] = {
    {0x0D0000, 0x68}, {0x0F0001, 0x00}, {0x0C0001, 0x60},
};

void write_steps(std::span<const ByteStep> steps) {
  for (const ByteStep& step : steps) {
    g11_write_byte(step.address, step.value);
  }
}

}  // namespace

int g11_init() { return send_command(kGroup, 0x01); }

int g11_write_byte(uint32_t address, uint8_t value) {
  return send_command(kGroup, 0x02, {{kAddress, address}, {kValue, value}});
}

int g11_write(uint32_t address, const uint8_t* source, uint32_t count) {
  return bulk_write(kWrite, address, source, count);
}

uint8_t g11_read_byte(uint32_t address) {
  ReplyBlock block{};
  read_dump(address & kDumpBlockMask, block.data(), static_cast<uint32_t>(block.size()));
  return block[address & kDumpByteMask];
}

uint32_t g11_read(uint32_t address, uint8_t* destination, uint32_t length) {
  // read_dump itself fetches a short range as one cleared 1024-byte block cut to length.
  const int n = read_dump(address, destination, length);
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}

void g11_sequence_a() { write_steps(kSequenceA); }

void g11_sequence_b() { write_steps(kSequenceB); }

}  // namespace cartdump

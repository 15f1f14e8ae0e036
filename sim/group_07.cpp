#include "sim/group_07.h"

#include <array>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

struct QueryWord {
  uint8_t word;
  uint16_t value;
};

// The chip's identification and CFI query words; unlisted words are zero.
constexpr QueryWord kQueryWords[] = {
    {0x00, 0x0001}, {0x01, 0x227E},                                  // manufacturer, device
    {0x10, 'Q'},    {0x11, 'R'},    {0x12, 'Y'},                     // query signature
    {0x13, 0x0002}, {0x15, 0x0040},                                  // command set, its table at 0x40
    {0x1B, 0x0027}, {0x1C, 0x0036},                                  // supply 2.7-3.6 V
    {0x1F, 0x0007}, {0x20, 0x0007}, {0x21, 0x000A},                  // typical time-outs
    {0x23, 0x0003}, {0x24, 0x0005}, {0x25, 0x0003},                  // maximum time-outs
    {0x27, 0x0017},                                                  // device size 2^23 bytes
    {0x28, 0x0002}, {0x2A, 0x0005},                                  // x8/x16, 32-byte write buffer
    {0x2C, 0x0001}, {0x2D, 0x007F}, {0x30, 0x0001},                  // 128 blocks of 64 KiB
};

constexpr std::array<uint8_t, kCfiChipQueryArea> make_query_area() {
  std::array<uint8_t, kCfiChipQueryArea> area{};
  for (const QueryWord& w : kQueryWords) {
    area[2 * w.word] = static_cast<uint8_t>(w.value >> 8);
    area[2 * w.word + 1] = static_cast<uint8_t>(w.value);
  }
  return area;
}

constexpr std::array<uint8_t, kCfiChipQueryArea> kQueryArea = make_query_area();

constexpr SectorField kAddress{3, 3};
constexpr SectorField kLength{6, 2};

void prepare(Device& device, const uint8_t*, SectorRecord&) { device.g07.ready = true; }

void read(Device& device, const uint8_t*, SectorRecord& record) {
  device.put_reply_range(record.address, record.length, cfi_chip_byte);
}

constexpr CommandEntry kCommands[] = {
    {.command = 0x01, .run = prepare},
    {.command = 0x02, .run = read, .address = kAddress, .length = kLength},
};

}  // namespace

uint8_t cfi_chip_byte(uint32_t address) {
  const uint32_t a = address & 0xFFFFFF;
  return a < kCfiChipQueryArea ? kQueryArea[a] : static_cast<uint8_t>(a * 7 + (a >> 8));
}

std::span<const CommandEntry> group_07_commands() { return kCommands; }

}  // namespace cartdump::sim

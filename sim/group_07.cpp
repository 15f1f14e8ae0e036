#include "sim/group_07.h"

#include <algorithm>
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

}  // namespace

uint8_t cfi_chip_byte(uint32_t address) {
  const uint32_t a = address & 0xFFFFFF;
  return a < kCfiChipQueryArea ? kQueryArea[a] : static_cast<uint8_t>(a * 7 + (a >> 8));
}

bool execute_group_07(Device& device, const uint8_t* sector, SectorRecord& record) {
  switch (sector[2]) {
    case 0x01:
      device.g07.ready = true;
      return true;
    case 0x02: {
      record.address = sector_field(sector, 3, 3);
      record.length = sector_field(sector, 6, 2);
      const uint32_t n = std::min(record.length, kReplyAreaSize);
      for (uint32_t i = 0; i < n; ++i) {
        device.reply_file[i] = cfi_chip_byte(record.address + i);
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace cartdump::sim

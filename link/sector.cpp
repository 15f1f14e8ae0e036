#include "link/sector.h"

namespace cartdump {
namespace {

constexpr std::array<uint16_t, 256> make_crc16_table() {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    uint32_t value = i << 8;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 0x8000) ? (value << 1) ^ 0x1021 : value << 1;
    }
    table[i] = static_cast<uint16_t>(value);
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrc16Table = make_crc16_table();
static_assert(kCrc16Table[1] == 0x1021 && kCrc16Table[2] == 0x2042 && kCrc16Table[3] == 0x3063);

}  // namespace

uint16_t crc16_xmodem(const uint8_t* block, uint32_t block_length) {
  uint16_t crc = 0;
  const uint32_t covered = block_length < 2 ? 0 : block_length - 2;
  for (uint32_t i = 0; i < covered; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrc16Table[((crc >> 8) ^ block[i]) & 0xFF]);
  }
  return crc;
}

void frame_sectors(uint8_t* batch, uint32_t length) {
  for (uint32_t k = 0; k + kSectorSize <= length; k += kSectorSize) {
    uint8_t* sector = batch + k;
    sector[0] = kSectorMarker;
    const uint16_t crc = crc16_xmodem(sector, kSectorSize);
    sector[kSectorCrcOffset] = static_cast<uint8_t>(crc >> 8);
    sector[kSectorCrcOffset + 1] = static_cast<uint8_t>(crc & 0xFF);
  }
}

}  // namespace cartdump

// Group 0x10 on the device: the N64 cartridge in the slot.
//   0x01 prepare the slot; 0x02 take an address; 0x03 read; 0x04 write.
// Reads of length 1 move one 16-bit word (two bytes); longer reads move length bytes, at most the
// 8192-byte reply area. Writes carry length bytes from byte 9 (a word when length is 1) and land in
// the cartridge image, as on a writable development cartridge.
//
// Outside the cartridge image the bus floats: each 16-bit word reads as the low 16 bits of its own
// address, high byte first. Reads past the end of a ROM therefore never come back as zeros.
#include <algorithm>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

uint8_t cartridge_byte(const Device& device, uint32_t address) {
  if (address >= kN64RomBase && address - kN64RomBase < device.rom.size()) {
    return device.rom[address - kN64RomBase];
  }
  const uint32_t word_address = address & ~1u;
  return static_cast<uint8_t>((address & 1) ? word_address : word_address >> 8);
}

}  // namespace

bool execute_group_10(Device& device, const uint8_t* sector, SectorRecord& record) {
  const uint32_t address = sector_field(sector, 3, 4);
  const uint32_t length = sector_field(sector, 7, 2);
  switch (sector[2]) {
    case 0x01:
      device.n64_ready = true;
      return true;
    case 0x02:
      record.address = device.n64_last_address = address;
      return true;
    case 0x03: {
      record.address = address;
      record.length = length;
      const uint32_t bytes = std::min<uint32_t>(length == 1 ? 2 : length, kReplyAreaSize);
      for (uint32_t i = 0; i < bytes; ++i) {
        device.reply_file[i] = cartridge_byte(device, address + i);
      }
      return true;
    }
    case 0x04: {
      record.address = address;
      record.length = length;
      const uint32_t bytes = std::min<uint32_t>(length == 1 ? 2 : length, 500);
      for (uint32_t i = 0; i < bytes; ++i) {
        const uint32_t a = address + i;
        if (a >= kN64RomBase && a - kN64RomBase < device.rom.size()) {
          device.rom[a - kN64RomBase] = sector[9 + i];
        }
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace cartdump::sim

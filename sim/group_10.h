// Group 0x10 on the device: the N64 cartridge in the slot.
//   0x01 prepare the slot;
//   0x02 take an address: 32-bit address at 3-6, kept as last_address;
//   0x03 read: 32-bit address at 3-6, length at 7-8;
//   0x04 write: 32-bit address at 3-6, length at 7-8, data from 9.
// Reads of length 1 move one 16-bit word (two bytes); longer reads move length bytes, at most the
// 8192-byte reply area. Writes carry length bytes from byte 9 (a word when length is 1, at most
// 500) and land in the cartridge image, as on a writable development cartridge.
//
// Outside the cartridge image the bus floats: each 16-bit word reads as the low 16 bits of its own
// address, high byte first. Reads past the end of a ROM therefore never come back as zeros.
#pragma once

#include <cstdint>
#include <vector>

namespace cartdump::sim {

inline constexpr uint32_t kN64RomBase = 0x1000000;  // group 0x10 address of cartridge byte 0

struct N64Slot {
  std::vector<uint8_t> rom;   // the cartridge, big-endian or as dumped
  uint32_t last_address = 0;  // carried by command 0x02
  bool ready = false;         // set by command 0x01

  // The byte at a device address: the cartridge's, or the floating bus's outside it.
  uint8_t read(uint32_t address) const;
  // A byte written at a device address; outside the cartridge it lands nowhere.
  void write(uint32_t address, uint8_t value);
};

}  // namespace cartdump::sim

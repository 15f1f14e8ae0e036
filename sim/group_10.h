// Group 0x10 on the device: the N64 cartridge in the slot.
//   0x01 prepare the slot;
//   0x02 take an address: 32-bit address at 3-6, kept as last_address;
//   0x03 read: 32-bit address at 3-6, length at 7-8;
//   0x04 write: 32-bit address at 3-6, length at 7-8, data from 9.
// Reads of length 1 move one 16-bit word (two bytes); longer reads move length bytes, at most the
// 8192-byte reply area. Writes carry length bytes from byte 9 (a word when length is 1, at most
// 500) and land in the cartridge image, as on a writable development cartridge.
//
// Past the cartridge image the slot answers as beyond says:
//   - fill (the default): the bus floats and each 16-bit word reads as the low 16 bits of its own
//     address, high byte first, so reads past the end of a ROM never come back as zeros;
//   - openbus: what the console's cartridge bus gives where nothing answers, each big-endian 16-bit
//     halfword at device address A reading A & 0xFFFF (the same words as fill);
//   - mirror: within the 64 MiB ROM window from 0x1000000 the image repeats, the byte at image
//     offset i past the end reading as image byte i % size; outside the window, as fill.
//
// Faults a dump has to live with (all off by default), applied to the replies of command 0x03:
//   - corrupt_every N: every Nth read's reply has one bit flipped, as through a dirty contact;
//   - corrupt_at A: every read whose reply covers device address A has one bit flipped, a
//     different one each time, so that no two reads of that chunk agree;
//   - zero_after N: once the device has taken N command sectors, reads answer zeros;
//   - lag: every read is answered one request late: the reply area shows what the read before it
//     put there (the first read is answered in time).
// The bits flipped follow seed.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace cartdump::sim {

inline constexpr uint32_t kN64RomBase = 0x1000000;    // group 0x10 address of cartridge byte 0
inline constexpr uint32_t kN64RomWindow = 0x4000000;  // 64 MiB of ROM address space from there

enum class Beyond : uint8_t { fill, openbus, mirror };

struct N64Faults {
  uint64_t corrupt_every = 0;
  std::optional<uint32_t> corrupt_at;
  uint64_t seed = 1;
  std::optional<uint64_t> zero_after;
  bool lag = false;
};

struct N64Slot {
  std::vector<uint8_t> rom;   // the cartridge, big-endian or as dumped
  Beyond beyond = Beyond::fill;
  N64Faults faults;
  uint32_t last_address = 0;  // carried by command 0x02
  bool ready = false;         // set by command 0x01
  uint64_t reads = 0;         // commands 0x03 taken
  uint64_t random = 0;        // the state behind the flipped bits, from faults.seed
  uint64_t last_flip = 0;     // the bit corrupt_at flipped last
  std::vector<uint8_t> lagging;  // lag: the reply area as the read before left it

  // The byte at a device address: the cartridge's, or what answers past it.
  uint8_t read(uint32_t address) const;
  // A byte written at a device address; outside the cartridge it lands nowhere.
  void write(uint32_t address, uint8_t value);
};

}  // namespace cartdump::sim

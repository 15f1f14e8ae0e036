// Group 0x07 on the device: reads of a 64 Mbit (8 MiB) flash chip with 16-bit words, which the
// cartridge holds in its identification and query mode.
//
// The chip's bytes as the reads see them, words high byte first (big-endian word order):
//   words 0x00-0x01 (bytes 0-3): the identification, manufacturer word 0x0001 and device word
//     0x227E, so bytes 0-3 read 00 01 22 7E;
//   words 0x10-0x30 (bytes 0x20-0x61): the CFI query block, "QRY" at bytes 33, 35, 37 (preceded by
//     zero bytes), device size code 0x17 (2^23 bytes = 8 MiB) at byte 79, one region of 128
//     uniform 64 KiB erase blocks;
//   every other byte of words 0x00-0x3F is zero;
//   from byte 0x80 on: the pattern (a * 7 + (a >> 8)) & 0xFF of the 24-bit address a.
//   0x01 prepare; 0x02 read: 24-bit address at 3-5, length at 6-7 (at most the 8192-byte reply area).
#pragma once

#include <cstdint>

namespace cartdump::sim {

inline constexpr uint32_t kCfiChipQueryArea = 0x80;  // bytes of the identification and query words

// The byte of the group 0x07 chip at a device address (bits 24-31 ignored).
uint8_t cfi_chip_byte(uint32_t address);

struct CfiChip {
  bool ready = false;  // set by command 0x01
};

}  // namespace cartdump::sim

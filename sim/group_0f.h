// Group 0x0F on the device: a byte-wide 8 Mbit (1 MiB) flash chip with sixteen uniform 64 KiB
// sectors. Its address lines end at bit 19, so the chip repeats through the address space.
//
// Command 0x03 (address at 3-5, value at 7) is one write cycle on the chip's bus, taken by its
// command state machine (JEDEC style):
//   0xF0 at any address, in any state but program: reset to reading;
//   0x8AAA <- 0xAA, 0x8555 <- 0x55: unlock; then
//     0x8AAA <- 0xA0: program: the next write cycle programs its byte;
//     0x8AAA <- 0x80: erase set-up, then the unlock again, then
//       0x8AAA <- 0x10: chip erase, every byte 0xFF;
//       any address <- 0x30: sector erase, the 64 KiB sector holding that address 0xFF.
// A write cycle that does not continue the sequence in progress breaks it: the chip returns to
// reading and nothing is erased or programmed. Command addresses are compared in full (24 bits).
// Programming only clears bits (the byte becomes old AND new); erasing sets them again.
//
// The other commands:
//   0x01 prepare (the state machine returns to reading);
//   0x02 read, layout A: 24-bit address at 3-5, length at 6-7;
//   0x09 read, layout B: 32-bit address at 4-7, length at 8-11;
//   0x05, 0x0A program, layout B: 32-bit address at 4-7, length at 8-11, data from 12;
//   0x06 program, layout B with a 24-bit address at 4-6.
// The firmware runs the program cycle for every byte of 0x05, 0x06 and 0x0A itself. Reads answer
// at most the 8192-byte reply area. Every write cycle of command 0x03 is kept in bus_writes.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/bus_access.h"

namespace cartdump::sim {

inline constexpr uint32_t kFlashSize = 0x100000;
inline constexpr uint32_t kFlashSectorSize = 0x10000;

enum class FlashCycle : uint8_t {
  reading,
  unlocked,        // 0xAA taken
  command,         // 0x55 taken: the command code follows
  program,         // the next write programs
  erase_set_up,    // 0x80 taken
  erase_unlocked,  // 0xAA taken after the set-up
  erase_command,   // 0x55 taken after the set-up: the erase code follows
};

struct FlashChip {
  FlashChip();

  std::vector<uint8_t> memory;  // kFlashSize bytes, filled with flash_fill_byte at start
  FlashCycle cycle = FlashCycle::reading;
  bool ready = false;  // set by command 0x01
  std::vector<BusAccess> bus_writes;

  uint8_t& at(uint32_t address) { return memory[address & (kFlashSize - 1)]; }
  // One write cycle of command 0x03.
  void bus_write(uint32_t address, uint8_t value);
  // A byte programmed by the firmware: old AND new.
  void program(uint32_t address, uint8_t value) { at(address) &= value; }
};

// The chip's content at start: not erased, and different in every sector.
uint8_t flash_fill_byte(uint32_t address);

}  // namespace cartdump::sim

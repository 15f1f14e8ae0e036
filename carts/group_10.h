// Command group 0x10: Nintendo 64 cartridges. Every operation goes through the drive file link.
#pragma once

#include <cstdint>

namespace cartdump {

inline constexpr uint32_t kN64RomBase = 0x1000000;  // device address of cartridge ROM byte 0

// Prepares the slot (command 0x01). Returns the result of the send.
int n64_init();

// Command 0x02, carrying only a 32-bit address. Returns the result of the send.
int n64_address_command(uint32_t address);

// Reads one 16-bit word (command 0x03, length 1); reply byte 0 is the low byte.
uint16_t n64_read_word(uint32_t address);

// Reads length bytes of cartridge address space into destination, one command of at most 8192
// bytes after the other. Returns the bytes the replies delivered: length when all arrived.
uint32_t n64_read(uint32_t address, uint8_t* destination, uint32_t length);

// Writes one 16-bit word, low byte first (command 0x04, length 1). Returns the result of the send.
int n64_write_word(uint32_t address, uint16_t value);

// Writes count bytes from source, 500 per sector, all sectors in one send. Returns the result of
// the send.
int n64_write(uint32_t address, const uint8_t* source, uint32_t count);

}  // namespace cartdump

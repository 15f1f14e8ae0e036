// Command group 0x13: 32-bit addresses and 16-bit values. Reads count their addresses in bytes; the
// bulk writes count theirs in 16-bit words, the address advancing by one for every two bytes
// written. Every operation goes through the drive file link. The scrambled writes always use
// Blowfish, whatever XOR mode says; the cipher must have been keyed first.
#pragma once

#include <cstdint>

namespace cartdump {

inline constexpr uint8_t kGroup13 = 0x13;

// Command 0x01. Returns the result of the send.
int g13_init();

// One 16-bit word at a byte address: reply byte 0 is the high byte, reply byte 1 the low byte.
uint16_t g13_read_word(uint32_t address);

// Reads length bytes from a byte address, one request of at most 8192 bytes after the other, the
// address advancing by each request's bytes. Returns the bytes delivered.
uint32_t g13_read(uint32_t address, uint8_t* destination, uint32_t length);

// One 16-bit word at a word address: command 0x05 sends it high byte first, command 0x06 low byte
// first. Return the result of the send.
int g13_write_word_05(uint32_t address, uint16_t value);
int g13_write_word_06(uint32_t address, uint16_t value);

// Writes count bytes to a word address, 500 bytes per sector, all in one send.
int g13_write_05(uint32_t address, const uint8_t* source, uint32_t count);

// Writes count bytes to a byte address (sent as the word address, address / 2), 500 bytes per
// sector, the first 8 payload bytes of each Blowfish-encrypted.
int g13_write_scrambled(uint32_t address, const uint8_t* source, uint32_t count);

// As g13_write_scrambled with 480 bytes per sector; a chunk of the caller's bytes that is all 0xFF
// is left out.
int g13_write_skip_blank(uint32_t address, const uint8_t* source, uint32_t count);

}  // namespace cartdump

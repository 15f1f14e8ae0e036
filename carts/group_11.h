// Command group 0x11: single-byte writes at 24-bit device addresses, and reads of the dump file,
// whose offsets are device addresses. Every operation goes through the drive file link.
#pragma once

#include <cstdint>

namespace cartdump {

// Command 0x01. Returns the result of the send.
int g11_init();

// Writes one byte (command 0x02). Returns the result of the send.
int g11_write_byte(uint32_t address, uint8_t value);

// Writes count bytes, one sector per byte (count * 512 bytes of sectors), all in one send; the
// sector of byte i carries the low 24 bits of address + i. Returns the result of the send: 0, with
// nothing sent, when the batch would not fit in 2 GiB (count of 0x400000 or more).
int g11_write(uint32_t address, const uint8_t* source, uint32_t count);

// Sends nothing: reads the 1024-byte block of the dump file at address & 0xFFFC00 and returns its
// byte address & 0x3FF (0 when the dump file is missing). Address bits 24-31 are dropped.
uint8_t g11_read_byte(uint32_t address);

// Sends nothing: reads length bytes of the dump file at offset address (all 32 bits) into
// destination. Below 1024 bytes one 1024-byte block is read and cut, so bytes the file did not
// deliver arrive as zeros. Returns the bytes delivered.
uint32_t g11_read(uint32_t address, uint8_t* destination, uint32_t length);

// The two fixed write sequences, each step one g11_write_byte sent alone.
//   a: 0x0D0000 <- 0x68, then 0x0F0000 <- 0x00, 0x73, 0x73, 0x73
//   b: 0x0D0000 <- 0x68, 0x0F0001 <- 0x00, 0x0C0001 <- 0x60
void g11_sequence_a();
void g11_sequence_b();

}  // namespace cartdump

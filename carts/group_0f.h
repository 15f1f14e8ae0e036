// Command group 0x0F: byte reads and writes at 24-bit and 32-bit device addresses, and the two
// flash erase sequences. Every operation goes through the drive file link.
//
// Two sector layouts:
//   A (commands 0x01-0x03): 24-bit address at 3-5; length at 6-7 (reads) or the value at 7 (0x03).
//   B (commands 0x05, 0x06, 0x09, 0x0A): 32-bit address at 4-7 (0x06: 24 bits at 4-6, zero at 7);
//     32-bit length at 8-11; data from byte 12.
#pragma once

#include <cstdint>

namespace cartdump {

// Command 0x01. Returns the result of the send.
int g0f_init();

// Layout A reads (command 0x02): one byte (reply byte 0), or length bytes in commands of at most
// 8192 bytes each. g0f_read returns the bytes the replies delivered.
uint8_t g0f_read_byte(uint32_t address);
uint32_t g0f_read(uint32_t address, uint8_t* destination, uint32_t length);

// Layout A byte write (command 0x03): address bits 0-23 at 3-5, zero at 6, value at 7. Returns the
// result of the send.
int g0f_write_byte(uint32_t address, uint8_t value);

// Layout B bulk writes, all sectors in one send; each returns the result of the send (0 with
// nothing sent when the batch would not fit in 2 GiB).
//   0x05: 480 bytes per sector, 32-bit address.
//   0x06: 480 bytes per sector, 24-bit address (zero at byte 7).
//   0x0A: 498 bytes per sector (bytes 12-509), 32-bit address.
int g0f_write_05(uint32_t address, const uint8_t* source, uint32_t count);
int g0f_write_06(uint32_t address, const uint8_t* source, uint32_t count);
int g0f_write_0a(uint32_t address, const uint8_t* source, uint32_t count);

// Layout B reads (command 0x09): one byte (reply byte 0), or length bytes in commands of at most
// 8192 bytes each.
uint8_t g0f_read_byte_09(uint32_t address);
uint32_t g0f_read_09(uint32_t address, uint8_t* destination, uint32_t length);

// Layout B single-byte write (command 0x0A, length 1, the value at 12). Returns the result of the
// send.
int g0f_write_byte_0a(uint32_t address, uint8_t value);

// The flash erase sequences: seven g0f_write_byte steps, each sent alone, nothing read back.
//   0x8AAA <- 0xF0 (reset), 0x8AAA <- 0xAA, 0x8555 <- 0x55 (unlock), 0x8AAA <- 0x80 (erase set-up),
//   0x8AAA <- 0xAA, 0x8555 <- 0x55 (unlock), then 0x8AAA <- 0x10 (chip erase) or
//   sector_address <- 0x30 (sector erase).
void g0f_erase_chip();
void g0f_erase_sector(uint32_t sector_address);

}  // namespace cartdump

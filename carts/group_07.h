// Command group 0x07: reads at 24-bit device addresses. Every operation goes through the drive
// file link.
#pragma once

#include <cstdint>

namespace cartdump {

// Command 0x01. Returns the result of the send.
int g07_init();

// Reads one byte (command 0x02, length 1): reply byte 0, 0 when the reply file is missing.
uint8_t g07_read_byte(uint32_t address);

// Reads length bytes from address into destination, one command of at most 8192 bytes after the
// other. The sectors carry the low 24 bits of the running address. Returns the bytes the replies
// delivered: length when all arrived.
uint32_t g07_read(uint32_t address, uint8_t* destination, uint32_t length);

}  // namespace cartdump

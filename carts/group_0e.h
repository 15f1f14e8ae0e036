// Command group 0x0E: a 16-bit, byte-wide address space. Addresses, lengths and bulk-write counts
// are 16-bit; an address that passes 0xFFFF wraps to 0. Every operation goes through the drive file
// link. The scrambled writes need the scrambling set up first (g0e_init_scrambling below, or
// scrambling_select or cipher_key_from_device_id in carts/scrambling.h).
#pragma once

#include <cstdint>

namespace cartdump {

inline constexpr uint8_t kGroup0e = 0x0E;
inline constexpr uint8_t kListCapacity = 124;  // entries of g0e_read_with_list, bytes 12 to 507

// Command 0x01, then scrambling_select (carts/scrambling.h): the device hands out its scrambling
// key. Returns the result of the send.
int g0e_init_scrambling();

// Single bytes: reads return reply byte 0; writes return the result of the send.
uint8_t g0e_read_byte_04(uint16_t address);
uint8_t g0e_read_byte_07(uint16_t address);
int g0e_write_byte_05(uint16_t address, uint8_t value);
int g0e_write_byte_06(uint16_t address, uint8_t value);
int g0e_write_byte_08(uint16_t address, uint8_t value);

// Ranged reads, one request of at most 8192 bytes after the other. Return the bytes delivered.
uint32_t g0e_read_04(uint16_t address, uint8_t* destination, uint16_t length);
uint32_t g0e_read_07(uint16_t address, uint8_t* destination, uint16_t length);

// Command 0x13: a ranged read whose every request carries the same list of (address, value)
// entries; at most 124 of the count entries are sent.
uint32_t g0e_read_with_list(uint16_t address, uint8_t* destination, uint16_t length,
                            const uint16_t* entry_addresses, const uint8_t* entry_values, uint8_t count);

// Bulk writes, all sectors in one send; each returns the result of the send.
// 498 bytes per sector, sent as given.
int g0e_write_05(uint16_t address, const uint8_t* source, uint16_t count);
int g0e_write_08(uint16_t address, const uint8_t* source, uint16_t count);
// 498 bytes per sector, the first 8 payload bytes of each scrambled (XOR in XOR mode, else Blowfish).
int g0e_write_scrambled_09(uint16_t address, const uint8_t* source, uint16_t count);
int g0e_write_scrambled_0a(uint16_t address, const uint8_t* source, uint16_t count);
// 480 bytes per sector; a chunk whose sector payload area is all 0xFF is left out.
int g0e_write_skip_blank(uint16_t address, const uint8_t* source, uint16_t count);

// Command 0x0B, carrying four 16-bit values. Returns the result of the send.
int g0e_set_values(uint16_t first, uint16_t second, uint16_t third, uint16_t fourth);

// Command 0x12: reply byte 0.
uint8_t g0e_read_status();

}  // namespace cartdump

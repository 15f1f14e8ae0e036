// Command group 0x14: banked byte addressing (the bank byte is address bits 16-23, the offset
// address bits 0-15), lists of (address, value) writes, and the exchange on the register pair at
// 0x2400/0x2401. Every operation goes through the drive file link.
//
// Sector layout: selector at 3, bank at 4, offset at 6-7, length (or entry count) at 8-9, data or
// entries from 12. Command 0x08 uses group 0x0F's layout B instead (32-bit address at 4-7, 32-bit
// length at 8-11, data from 12).
#pragma once

#include <cstdint>

namespace cartdump {

inline constexpr uint32_t kG14MaxEntries = 124;      // BankedEntries in one sector
inline constexpr uint16_t kG14MaxBlock = 256;        // data bytes of one g14_write_block
inline constexpr uint32_t kG14DataPort = 0x2400;     // the register pair of the exchange
inline constexpr uint32_t kG14ControlPort = 0x2401;
inline constexpr uint8_t kG14Star = 0x2A;            // "*"
inline constexpr uint8_t kG14Brace = 0x7D;           // "}"

// Commands 0x01 and 0x02. Return the result of the send.
int g14_init();
int g14_command_02();
// Command 0x02 carrying a value: 1 at byte 3, the value at 4. Returns the result of the send.
int g14_command_02_value(uint8_t value);

// Command 0x03: one byte (reply byte 0), or length bytes in commands of at most 8192 bytes each,
// bank and offset computed afresh from the running address for each command. g14_read returns the
// bytes the replies delivered.
uint8_t g14_read_byte(uint32_t address);
uint32_t g14_read(uint32_t address, uint8_t* destination, uint32_t length);

// Command 0x04 with one BankedEntry (value, bank, offset low, offset high) at byte 12, and the
// entry's address in the command's own bank and offset fields. Returns the result of the send.
int g14_write_byte(uint32_t address, uint8_t value);

// Command 0x04 with a list: entry i writes entry_values[i] at entry_addresses[i]. At most 124
// entries go out (the rest are dropped); bytes 3-7 stay zero. Returns the result of the send.
int g14_write_list(const uint32_t* entry_addresses, const uint8_t* entry_values, uint8_t count);

// Command 0x05: count bytes, 384 per sector, all in one send. Every sector carries the caller's
// selector and bank unchanged and bits 0-15 of the running address, so the address wraps within
// the bank. Returns the result of the send.
int g14_write_05(uint8_t selector, uint8_t bank, uint32_t address, const uint8_t* source, uint32_t count);

// Command 0x06: one sector of at most 256 data bytes (a longer length is cut to 256). Returns the
// result of the send.
int g14_write_block(uint8_t selector, uint8_t bank, uint16_t address, const uint8_t* source, uint16_t length);

// Command 0x07 with the selector at 3: reply byte 0.
uint8_t g14_command_07(uint8_t selector);

// Command 0x08: count bytes, 498 per sector (layout B, 32-bit address), all in one send. Returns
// the result of the send.
int g14_write_08(uint32_t address, const uint8_t* source, uint32_t count);

// One exchange on the register pair, each access one g14_write_byte or g14_read_byte:
// 0x2400 <- 0x09; c = read 0x2400; 0x2401 <- 0x28; 0x2401 <- 0x84; when c is "}" also
// 0x2400 <- 0x06 and 0x2400 <- 0x39; 0x2400 <- value; returns read 0x2400.
uint8_t g14_exchange_2400(uint8_t value);

// g14_command_02_value(0), then true as soon as a read of 0x2400 answers "*": first a plain read,
// then the last read of each of up to 30 exchanges of the value 4. False after the 31st answer.
bool g14_wait_for_star();

// False at once when an exchange of 4 does not answer "*"; otherwise an exchange of 2 (its answer
// unused), then true when an exchange of 1 answers 4.
bool g14_check_exchange();

}  // namespace cartdump

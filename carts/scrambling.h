// Payload scrambling and the blank-chunk tests of the bulk writes.
//
// Some writes scramble the first 8 bytes of every sector's payload, either with Blowfish keyed by
// the device's DeviceId or with an 8-byte XOR key that the device hands out in its identity block.
// Which of the two the device takes is read from the identity block: one whose first three bytes
// are "NES" keys the cipher; any other turns on XOR mode, which then stays on for the life of the
// process. No key is stored in the system; both come from the device at run time.
//
// Until one of scrambling_select, g0e_init_scrambling (carts/group_0e.h) or
// cipher_key_from_device_id has run, the cipher context is all zero and XOR mode is off.
#pragma once

#include <array>
#include <cstdint>

#include "carts/cipher.h"

namespace cartdump {

inline constexpr uint32_t kXorKeySize = 8;
inline constexpr uint32_t kScrambledHeadSize = 8;  // the payload bytes a scrambled write changes
inline constexpr uint32_t kXorKeyOffset = 512;     // in the identity block

// Blank chunks: the CRC-32 of a 480-byte payload area of 0xFF bytes.
inline constexpr uint32_t kBlankAreaSize = 480;
inline constexpr uint32_t kBlankAreaCrc = 0x0CDE7D90;

// Process-wide scrambling state, zero at start. xor_mode is set by a selection and never cleared.
extern uint8_t xor_mode;
extern std::array<uint8_t, kXorKeySize> xor_key;

// Reads the identity block; "NES" in its first three bytes keys the cipher with the DeviceId (and
// leaves xor_mode as it was), anything else turns on XOR mode with the block's bytes 512-519 (and
// leaves the cipher as it was).
void scrambling_select();

// Keys the cipher with the DeviceId, reading nothing from the device.
void cipher_key_from_device_id();

// Scrambles the 8 bytes at payload in place: XOR with xor_key in XOR mode, else Blowfish. The
// 8 bytes are scrambled whatever the payload's length.
void scramble_payload_head(uint8_t* payload);

// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, as in zlib), continued from crc.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, uint32_t length);
uint32_t crc32_ieee(const uint8_t* data, uint32_t length);

// True when every one of the length bytes is 0xFF (so also for length 0).
bool is_all_ff(const uint8_t* data, uint32_t length);

}  // namespace cartdump

// Flash-chip identification from bytes read off a cartridge: the device size from a Common Flash
// Interface (CFI) query block, and a test of a 4-byte identification code against the known chips.
#pragma once

#include <cstdint>

namespace cartdump {

// A CfiQueryBlock is the start of a chip's CFI query data as read in 16-bit words, word w at bytes
// 2w and 2w + 1. The size functions look at the letters Q, R, Y (words 0x10-0x12, bytes 32-37) and
// the device size code n (word 0x27, bytes 78-79), so the block holds at least 80 bytes.
inline constexpr uint32_t kCfiQueryBlockSize = 80;
inline constexpr uint32_t kFlashIdSize = 4;

// Words high byte first: 00 51 00 52 00 59 at bytes 32-37, the size code at byte 79. Returns
// 2^n bytes for a size code n of 19 (512 KiB) to 28 (256 MiB), 0 for any other block.
uint32_t cfi_device_size_be(const uint8_t* query);

// Words low byte first: 51 00 52 00 59 00 at bytes 32-37, the size code at byte 78. The high bytes
// of the three letter words (bytes 33, 35, 37) are cleared in the caller's block first, so the
// letters match whatever those bytes held, and the block stays changed. Sizes as above.
uint32_t cfi_device_size_le(uint8_t* query);

// True when the 4 bytes are one of the known codes 00 01 22 7E and 01 01 7E 7E.
bool flash_id_is_known(const uint8_t* id);

}  // namespace cartdump

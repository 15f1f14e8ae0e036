// The four byte orders in which an N64 cartridge image comes, told apart by its first byte, and the
// rearrangement between each of them and the cartridge's own big-endian order.
//
//   big          80 37 12 40   the cartridge's own order
//   byteswapped  37 80 40 12   the bytes of each 16-bit pair swapped
//   little       40 12 37 80   each 32-bit word reversed
//   wordswapped  12 40 80 37   the 16-bit halves of each 32-bit word swapped
//
// Only byte 0 is compared, as the dump's header test does: it is the first byte of the header word
// 0x80371240 in each order.
#pragma once

#include <cstdint>

namespace cartdump {

enum class RomByteOrder : uint8_t { big, byteswapped, little, wordswapped, unknown };

// The order marked by the first of length bytes at start; unknown when length is 0 or byte 0 marks
// none of the four.
RomByteOrder rom_byte_order_of(const uint8_t* start, uint32_t length);

// "big", "byteswapped", "little", "wordswapped" or "unknown".
const char* rom_byte_order_name(RomByteOrder order);

// The order of that name (one of the four), in order; 0 for any other name, order left as it was.
int rom_byte_order_named(const char* name, RomByteOrder* order);

// Rearranges length bytes between big order and the given order, in place. Each rearrangement
// undoes itself, so the same call converts either way. Only whole 32-bit words are rearranged: the
// length % 4 bytes after the last whole word stay as they are. big and unknown change nothing.
void rom_convert_order(uint8_t* data, uint32_t length, RomByteOrder order);

}  // namespace cartdump

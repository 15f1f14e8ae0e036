// The N64 cartridge header: the first 0x40 bytes of the image in big-endian order.
//
//   0x08  entry point (32-bit word)
//   0x10  checksum word 1, 0x14 checksum word 2 (see checksum.h)
//   0x20  title, 20 bytes of JIS X 0201
//   0x3B  game id, 4 characters, whose last (0x3E) names the region
//   0x3F  version
#pragma once

#include <cstdint>

namespace cartdump {

inline constexpr uint32_t kRomHeaderSize = 0x40;
inline constexpr uint32_t kRomEntryPointOffset = 0x08;
inline constexpr uint32_t kRomCrc1Offset = 0x10;
inline constexpr uint32_t kRomCrc2Offset = 0x14;
inline constexpr uint32_t kRomTitleOffset = 0x20;
inline constexpr uint32_t kRomTitleSize = 20;
inline constexpr uint32_t kRomGameIdOffset = 0x3B;
inline constexpr uint32_t kRomGameIdSize = 4;
inline constexpr uint32_t kRomRegionOffset = 0x3E;
inline constexpr uint32_t kRomVersionOffset = 0x3F;

// Every JIS X 0201 byte takes at most 3 bytes of UTF-8; and the terminating NUL.
inline constexpr uint32_t kRomTitleCapacity = kRomTitleSize * 3 + 1;
inline constexpr uint32_t kRomGameIdCapacity = kRomGameIdSize * 3 + 1;

struct RomHeader {
  uint32_t entry_point;
  uint32_t crc1;
  uint32_t crc2;
  char title[kRomTitleCapacity];  // UTF-8, NUL-terminated; may hold ASCII control characters
  uint32_t title_length;          // in bytes, without the NUL
  char game_id[kRomGameIdCapacity];
  uint32_t game_id_length;
  uint8_t region;  // the byte at 0x3E
  uint8_t version;
};

// The 32-bit big-endian word at p.
uint32_t rom_big_word(const uint8_t* p);

// Reads the header from the first length bytes of a big-order image. Returns 1, or 0 when length is
// below kRomHeaderSize (the header is then all zero).
int rom_read_header(const uint8_t* start, uint32_t length, RomHeader* header);

// count bytes of JIS X 0201 text as UTF-8: ASCII (0x00 to 0x7F) as it is, half-width katakana
// 0xA1 to 0xDF as U+FF61 to U+FF9F, any other byte as U+FFFD; trailing spaces and NULs are left
// out. Writes at most capacity - 1 bytes of whole characters and a NUL (nothing when capacity is
// 0); returns the bytes written before the NUL.
uint32_t rom_text_utf8(const uint8_t* bytes, uint32_t count, char* out, uint32_t capacity);

// The region named by a game id's last byte ("North America", "Japan", ...), "unknown" for a byte
// that names none.
const char* rom_region_name(uint8_t code);

}  // namespace cartdump

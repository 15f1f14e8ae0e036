// Synthetic N64 cartridge images for the simulator and the tests: a header and pseudo-random
// contents, all derived from a seed, so that a test can name a cartridge by its seed and size.
// Nothing in them comes from a real cartridge.
//
// Header, in the cartridge's own (big-endian) order:
//   0x00  80 37 12 40        the first header word, which marks the byte order
//   0x04  0000000F           clock rate word
//   0x08  80000400           entry address
//   0x0C  00000000           release word
//   0x10  checksum word 1    test_rom_checksums(), over 0x1000 up to 0x101000 (or the end), or the
//   0x14  checksum word 2    boot-code checksum of a family (rom/checksum.h) when one is asked for
//   0x18  8 zero bytes
//   0x20  title, 20 characters: "TESTROM " and the low 48 bits of the seed in hex, or one asked for
//   0x34  7 zero bytes
//   0x3B  game code "NZZE" (media N, id ZZ, region E), or one asked for, then version 0 at 0x3F
//   0x40  pseudo-random bytes from the seed to the end
// The maker's own checksum words (a word sum and a rotated-word XOR) are not the console's boot
// checksum. The images carry no real boot code and are not meant to run: the bytes from 0x40 are
// the seed's, so the report knows a family's words only by computing them, as for homebrew.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rom/byte_order.h"
#include "rom/checksum.h"

namespace cartdump::sim {

inline constexpr uint32_t kTestRomHeaderSize = 0x40;
inline constexpr uint32_t kTestRomChecksumStart = 0x1000;
inline constexpr uint32_t kTestRomChecksumEnd = 0x101000;

inline constexpr uint32_t kTestRomTitleSize = 20;
inline constexpr uint32_t kTestRomGameIdSize = 4;

// The four orders in which a cartridge image can come (rom/byte_order.h): big is the cartridge's
// own; byteswapped swaps the bytes of each 16-bit pair (37 80 40 12); little reverses each 32-bit
// word (40 12 37 80); wordswapped swaps the 16-bit halves of each 32-bit word (12 40 80 37).
using ByteOrder = RomByteOrder;

// What a fixture may choose of the header; the defaults give the header above.
struct TestRomHeader {
  std::string title;    // at most 20 bytes, padded with spaces; empty for "TESTROM " and the seed
  std::string game_id;  // 4 bytes; empty for "NZZE"
  RomChecksumFamily family = RomChecksumFamily::none;  // whose checksum words; none for the maker's own
};

// The order named "big", "byteswapped", "little" or "wordswapped"; false for any other name.
bool byte_order_named(std::string_view name, ByteOrder& order);

// True for a size the maker accepts: a whole number of 32-bit words holding at least the header.
bool test_rom_size_valid(uint64_t size);

// "" when the header can be made for an image of size bytes, otherwise why not (a title or game id
// of the wrong length, an image too short for the family's checksum).
std::string test_rom_header_problem(const TestRomHeader& header, uint32_t size);

// The cartridge of this seed and size, in big order. size must be valid, and so must the header.
std::vector<uint8_t> make_test_rom(uint64_t seed, uint32_t size, const TestRomHeader& header = {});

// The two checksum words of a big-order image, over 0x1000 up to 0x101000 or its end.
std::array<uint32_t, 2> test_rom_checksums(std::span<const uint8_t> image);

// Rearranges an image between big order and the given order, in place; each rearrangement undoes
// itself, so the same call converts either way. The size must be a multiple of 4.
void convert_byte_order(std::span<uint8_t> image, ByteOrder order);

}  // namespace cartdump::sim

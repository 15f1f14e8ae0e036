// The boot-code checksum: the two header words at 0x10 and 0x14, which the console's boot code
// checks, and the boot-code family that decides how they are computed.
//
// The input is the 1 MiB from 0x1000 of the big-order image, as 32-bit words (for the 5101 family
// 0x3FE000 bytes instead when the header's entry point is 0x80000400). The functions take the start
// of the image (a pointer and a length), never more than kRomStartLength bytes of it.
#pragma once

#include <cstdint>

namespace cartdump {

inline constexpr uint32_t kRomBootCodeOffset = 0x40;
inline constexpr uint32_t kRomBootCodeEnd = 0x1000;  // the boot code is 0x40 up to here
inline constexpr uint32_t kRomChecksumOffset = 0x1000;
inline constexpr uint32_t kRomChecksumLength = 0x100000;
inline constexpr uint32_t kRomChecksumLong5101 = 0x3FE000;
inline constexpr uint32_t kRomLongEntryPoint5101 = 0x80000400;
// All that any check reads: the start of the image that a caller keeps.
inline constexpr uint32_t kRomStartLength = kRomChecksumOffset + kRomChecksumLong5101;

// The boot code, named by the MD5 of bytes 0x40 to 0xFFF.
enum class RomCic : uint8_t { unknown, cic_6101, cic_6102, cic_7102, cic_6103, cic_6105, cic_6106, cic_5101 };

// The checksum computations; each serves one or more boot codes.
enum class RomChecksumFamily : uint8_t { none, family_6102, family_6103, family_6105, family_6106, family_5101 };

// The family whose boot code has this MD5 (kMd5Size bytes); unknown for any other.
RomCic rom_cic_of_md5(const uint8_t* md5);
// The family of the boot code in the first length bytes of a big-order image; unknown when the
// boot code is not all there or not known.
RomCic rom_cic_of(const uint8_t* start, uint32_t length);

// The computation that a boot code uses; none for unknown.
RomChecksumFamily rom_cic_family(RomCic cic);

// The boot code's short name ("6101", "6102", "7102", "6103", "6105", "6106", "5101"), and the
// boot codes it stands for ("6102/7101", ...); both nullptr for unknown.
const char* rom_cic_name(RomCic cic);
const char* rom_cic_label(RomCic cic);
// The computation's short name ("6102", "6103", "6105", "6106", "5101") and the boot codes it
// serves ("6101/6102/7101/7102", ...); both nullptr for none.
const char* rom_family_name(RomChecksumFamily family);
const char* rom_family_label(RomChecksumFamily family);

// The computation that serves the boot code of that number ("6101", "7101", "6105", ...), in
// family; 0 for a name that is none of them, family left as it was.
int rom_family_named(const char* name, RomChecksumFamily* family);

// The bytes from the image's start that the family's computation needs: 0x101000, or 0x3FF000 for
// 5101 when the entry point is 0x80000400.
uint32_t rom_checksum_needs(RomChecksumFamily family, const uint8_t* start, uint32_t length);

// The family's two words over the first length bytes of a big-order image. Returns 1, or 0 when
// the image is shorter than the computation needs or the family is none (the words are then 0).
int rom_checksum(RomChecksumFamily family, const uint8_t* start, uint32_t length, uint32_t* crc1, uint32_t* crc2);

enum class RomCheckState : uint8_t { too_short, matches, differs };

struct RomCheck {
  RomCic cic;                         // the boot code as given
  RomChecksumFamily matched;          // the computation whose words equal the header's; none when none
  RomChecksumFamily computed_family;  // the computation of crc1/crc2_computed; none when too short
  uint32_t crc1_computed;
  uint32_t crc2_computed;
  RomCheckState state;
};

// Checks the header's words of a big-order image whose boot code is cic. A known boot code decides
// the computation. An unknown one is tried against every computation in turn (6102, 6103, 6105,
// 6106, 5101), and the first whose words equal the header's is the match; when none is, the 6102
// computation's words are given. too_short when no computation could run.
void rom_check(const uint8_t* start, uint32_t length, RomCic cic, RomCheck* check);

}  // namespace cartdump

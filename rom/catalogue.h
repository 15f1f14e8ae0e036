// The cartridge catalogue: the mupen64plus ini format, one section per known dump.
//
//   [MD5 of the big-order image, 32 hexadecimal digits]
//   GoodName=Name (Region) [tags]
//   CRC=CRC1 CRC2            the header's two checksum words, in hexadecimal
//   SaveType=Eeprom 4KB
//   Players=4
//   Rumble=Yes
//   RefMD5=MD5 of another section, whose fields this one inherits where it gives none
//
// Lines are trimmed; ';' and '#' begin comments; other keys, and lines before the first section,
// are passed over. Section names and hexadecimal digits are read in either case, and a CRC word
// may have fewer than 8 digits. A value that cannot be read counts as not given.
//
// The status of a dump comes from the tags in its name: "[!]" verified, "[b…]" bad, "[o…]"
// overdump, "[h…]" hack, "[t…]" trainer, "[f…]" fixed, "[p…]" pirate, "[a…]" alternate, none of
// them listed. Of several, the most serious wins, in the order bad, overdump, hack, trainer,
// fixed, pirate, alternate, verified.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "rom/hashes.h"

namespace cartdump {

// Ordered from the least serious to the most; unconfirmed is given to a match by the CRC pair
// alone and has no place in that order.
enum class RomStatus : uint8_t { listed, verified, alternate, pirate, fixed, trainer, hack, overdump, bad, unconfirmed };

// The fields a section gave (or inherited), as bits of RomCatalogueEntry::fields.
inline constexpr uint8_t kRomFieldMd5 = 0x01;  // the section's name is an MD5
inline constexpr uint8_t kRomFieldName = 0x02;
inline constexpr uint8_t kRomFieldCrc = 0x04;
inline constexpr uint8_t kRomFieldSaveType = 0x08;
inline constexpr uint8_t kRomFieldPlayers = 0x10;
inline constexpr uint8_t kRomFieldRumble = 0x20;
inline constexpr uint8_t kRomFieldRef = 0x40;
// What RefMD5 passes on.
inline constexpr uint8_t kRomInheritedFields =
    kRomFieldName | kRomFieldCrc | kRomFieldSaveType | kRomFieldPlayers | kRomFieldRumble;

struct RomCatalogueEntry {
  std::array<uint8_t, kMd5Size> md5;
  std::array<uint8_t, kMd5Size> ref_md5;
  std::string name;  // GoodName, its bytes as the file holds them
  std::string save_type;
  uint32_t crc1;
  uint32_t crc2;
  uint8_t players;
  uint8_t rumble;  // 1 for Yes, 0 for No
  uint8_t fields;
};

struct RomCatalogue {
  std::vector<RomCatalogueEntry> entries;  // one per section, in the file's order
  std::vector<uint32_t> by_md5;            // indices of entries with an MD5, sorted by it
};

// Reads a catalogue from length bytes of text, replacing what catalogue held, and resolves RefMD5
// (along chains, at most 16 steps, so that a cycle ends). Returns the number of sections.
uint32_t rom_catalogue_parse(const char* text, uint32_t length, RomCatalogue* catalogue);

// The status given by the tags of a name of length bytes.
RomStatus rom_status_of_name(const char* name, uint32_t length);
// "listed", "verified", "alternate", "pirate", "fixed", "trainer", "hack", "overdump", "bad",
// "unconfirmed".
const char* rom_status_name(RomStatus status);

enum class RomMatchKind : uint8_t { none, md5, crc };

struct RomCatalogueMatch {
  RomMatchKind by;
  RomStatus status;
  int32_t entry;  // index into the catalogue's entries; -1 when none
};

// Looks up an image: first by its MD5 (kMd5Size bytes), then, when crc_pair (the header's two
// words) is given, by the CRC pair. An MD5 match takes its status from the name; a match by the
// CRC pair alone is unconfirmed, and names the first section with that pair whose own status is
// verified, or else the first with that pair. Returns the kind of match.
RomMatchKind rom_catalogue_lookup(const RomCatalogue* catalogue, const uint8_t* md5, const uint32_t* crc_pair,
                                  RomCatalogueMatch* match);

}  // namespace cartdump

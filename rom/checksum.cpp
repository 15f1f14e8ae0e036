#include "rom/checksum.h"

#include <bit>
#include <cstring>
#include <iterator>
#include <string_view>

#include "rom/hashes.h"
#include "rom/header.h"

namespace cartdump {
namespace {

enum class Final : uint8_t {
  xor_all,   // a3 ^ t2 ^ t3, s0 ^ a2 ^ t4
  add,       // (a3 ^ t2) + t3, (s0 ^ a2) + t4
  multiply,  // a3 * t2 + t3, s0 * a2 + t4
};

struct FamilyEntry {
  RomChecksumFamily family;
  const char* name;
  const char* label;
  uint32_t seed;
  uint32_t magic;
  Final final;
};

// In the order in which an unknown boot code is tried.
constexpr FamilyEntry kFamilies[] = {
    {RomChecksumFamily::family_6102, "6102", "6101/6102/7101/7102", 0x3F, 0x5D588B65, Final::xor_all},
    {RomChecksumFamily::family_6103, "6103", "6103/7103", 0x78, 0x6C078965, Final::add},
    {RomChecksumFamily::family_6105, "6105", "6105/7105", 0x91, 0x5D588B65, Final::xor_all},
    {RomChecksumFamily::family_6106, "6106", "6106/7106", 0x85, 0x6C078965, Final::multiply},
    {RomChecksumFamily::family_5101, "5101", "5101", 0xAC, 0x6C078965, Final::add},
};

struct CicEntry {
  RomCic cic;
  const char* md5;  // of bytes 0x40 to 0xFFF, lowercase hexadecimal
  const char* name;
  const char* label;
  RomChecksumFamily family;
};

constexpr CicEntry kCics[] = {
    {RomCic::cic_6101, "900b4a5b68edb71f4c7ed52acd814fc5", "6101", "6101", RomChecksumFamily::family_6102},
    {RomCic::cic_6102, "e24dd796b2fa16511521139d28c8356b", "6102", "6102/7101", RomChecksumFamily::family_6102},
    {RomCic::cic_7102, "955894c2e40a698bf98a67b78a4e28fa", "7102", "7102", RomChecksumFamily::family_6102},
    {RomCic::cic_6103, "319038097346e12c26c3c21b56f86f23", "6103", "6103/7103", RomChecksumFamily::family_6103},
    {RomCic::cic_6105, "ff22a296e55d34ab0a077dc2ba5f5796", "6105", "6105/7105", RomChecksumFamily::family_6105},
    {RomCic::cic_6106, "6460387749ac0bd925aa5430bc7864fe", "6106", "6106/7106", RomChecksumFamily::family_6106},
    {RomCic::cic_5101, "711f8c3ac54fc70a42626bf6c171443d", "5101", "5101", RomChecksumFamily::family_5101},
};

// The 6105 computation mixes in the boot code's words from here, 64 of them in turn.
constexpr uint32_t k6105TableOffset = 0x750;

const FamilyEntry* family_entry(RomChecksumFamily family) {
  for (const FamilyEntry& entry : kFamilies) {
    if (entry.family == family) return &entry;
  }
  return nullptr;
}

const CicEntry* cic_entry(RomCic cic) {
  for (const CicEntry& entry : kCics) {
    if (entry.cic == cic) return &entry;
  }
  return nullptr;
}

constexpr const char* kNoName = nullptr;

// A field of a table's entry, or what stands for none when there is no entry.
template <typename Entry, typename Field>
Field field_of(const Entry* entry, Field Entry::*member, Field none) {
  return entry != nullptr ? entry->*member : none;
}

}  // namespace

RomCic rom_cic_of_md5(const uint8_t* md5) {
  char hex[2 * kMd5Size + 1];
  rom_hex(md5, kMd5Size, hex);
  for (const CicEntry& entry : kCics) {
    if (std::strcmp(entry.md5, hex) == 0) return entry.cic;
  }
  return RomCic::unknown;
}

RomCic rom_cic_of(const uint8_t* start, uint32_t length) {
  if (length < kRomBootCodeEnd) return RomCic::unknown;
  uint8_t md5[kMd5Size];
  if (rom_md5(start + kRomBootCodeOffset, kRomBootCodeEnd - kRomBootCodeOffset, md5) == 0) return RomCic::unknown;
  return rom_cic_of_md5(md5);
}

RomChecksumFamily rom_cic_family(RomCic cic) {
  return field_of(cic_entry(cic), &CicEntry::family, RomChecksumFamily::none);
}

const char* rom_cic_name(RomCic cic) { return field_of(cic_entry(cic), &CicEntry::name, kNoName); }
const char* rom_cic_label(RomCic cic) { return field_of(cic_entry(cic), &CicEntry::label, kNoName); }
const char* rom_family_name(RomChecksumFamily family) {
  return field_of(family_entry(family), &FamilyEntry::name, kNoName);
}
const char* rom_family_label(RomChecksumFamily family) {
  return field_of(family_entry(family), &FamilyEntry::label, kNoName);
}

int rom_family_named(const char* name, RomChecksumFamily* family) {
  const std::string_view wanted(name);
  for (const FamilyEntry& entry : kFamilies) {
    // The label lists the boot codes, separated by '/'.
    std::string_view codes(entry.label);
    while (!codes.empty()) {
      const size_t slash = codes.find('/');
      if (codes.substr(0, slash) == wanted) {
        *family = entry.family;
        return 1;
      }
      codes.remove_prefix(slash == std::string_view::npos ? codes.size() : slash + 1);
    }
  }
  return 0;
}

uint32_t rom_checksum_needs(RomChecksumFamily family, const uint8_t* start, uint32_t length) {
  const bool long_5101 = family == RomChecksumFamily::family_5101 && length >= kRomEntryPointOffset + 4 &&
                         rom_big_word(start + kRomEntryPointOffset) == kRomLongEntryPoint5101;
  return kRomChecksumOffset + (long_5101 ? kRomChecksumLong5101 : kRomChecksumLength);
}

int rom_checksum(RomChecksumFamily family, const uint8_t* start, uint32_t length, uint32_t* crc1, uint32_t* crc2) {
  *crc1 = 0;
  *crc2 = 0;
  const FamilyEntry* entry = family_entry(family);
  const uint32_t needs = rom_checksum_needs(family, start, length);
  if (entry == nullptr || length < needs) return 0;

  const uint32_t initial = entry->seed * entry->magic + 1;
  uint32_t a3 = initial, t2 = initial, t3 = initial, s0 = initial, a2 = initial, t4 = initial;
  const bool table_6105 = family == RomChecksumFamily::family_6105;
  const uint32_t words = (needs - kRomChecksumOffset) / 4;
  for (uint32_t i = 0; i < words; ++i) {
    const uint32_t d = rom_big_word(start + kRomChecksumOffset + 4 * i);
    const uint32_t a1 = a3 + d;
    if (a1 < a3) ++t2;
    a3 = a1;
    const uint32_t r = std::rotl(d, static_cast<int>(d & 31));
    t3 ^= d;
    s0 += r;
    a2 ^= a2 < d ? a3 ^ d : r;
    const uint32_t x = table_6105 ? rom_big_word(start + k6105TableOffset + 4 * (i & 0x3F)) : s0;
    t4 += d ^ x;
  }
  switch (entry->final) {
    case Final::xor_all:
      *crc1 = a3 ^ t2 ^ t3;
      *crc2 = s0 ^ a2 ^ t4;
      break;
    case Final::add:
      *crc1 = (a3 ^ t2) + t3;
      *crc2 = (s0 ^ a2) + t4;
      break;
    case Final::multiply:
      *crc1 = a3 * t2 + t3;
      *crc2 = s0 * a2 + t4;
      break;
  }
  return 1;
}

void rom_check(const uint8_t* start, uint32_t length, RomCic cic, RomCheck* check) {
  *check = RomCheck{};
  check->cic = cic;
  check->state = RomCheckState::too_short;
  if (length < kRomHeaderSize) return;
  const uint32_t header1 = rom_big_word(start + kRomCrc1Offset);
  const uint32_t header2 = rom_big_word(start + kRomCrc2Offset);

  // A known boot code decides the computation; an unknown one has each tried.
  const RomChecksumFamily known = rom_cic_family(cic);
  for (const FamilyEntry& entry : kFamilies) {
    if (known != RomChecksumFamily::none && entry.family != known) continue;
    uint32_t crc1 = 0;
    uint32_t crc2 = 0;
    if (rom_checksum(entry.family, start, length, &crc1, &crc2) == 0) continue;
    const bool equal = crc1 == header1 && crc2 == header2;
    // The first computation that ran stands until one matches: the known one, or 6102.
    if (equal || check->computed_family == RomChecksumFamily::none) {
      check->computed_family = entry.family;
      check->crc1_computed = crc1;
      check->crc2_computed = crc2;
      check->state = equal ? RomCheckState::matches : RomCheckState::differs;
    }
    if (equal) {
      check->matched = entry.family;
      return;
    }
  }
}

}  // namespace cartdump

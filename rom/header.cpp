#include "rom/header.h"

#include <array>
#include <cstring>

namespace cartdump {
namespace {

struct Region {
  uint8_t code;
  const char* name;
};

constexpr Region kRegions[] = {
    {'E', "North America"}, {'J', "Japan"}, {'P', "Europe"},    {'D', "Germany"},
    {'F', "France"},        {'I', "Italy"}, {'S', "Spain"},     {'U', "Australia"},
    {'X', "Europe"},        {'Y', "Europe"}, {'A', "all regions"},
};

constexpr uint8_t kFirstKatakana = 0xA1;
constexpr uint8_t kLastKatakana = 0xDF;
constexpr uint32_t kKatakanaBase = 0xFF61;  // the code point of byte 0xA1
constexpr uint32_t kReplacement = 0xFFFD;

// The UTF-8 bytes of a code point below 0x10000; returns their count.
uint32_t encode_utf8(uint32_t code_point, std::array<char, 3>& bytes) {
  if (code_point < 0x80) {
    bytes[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (code_point >> 6));
    bytes[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  bytes[0] = static_cast<char>(0xE0 | (code_point >> 12));
  bytes[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  bytes[2] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 3;
}

uint32_t code_point_of(uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte >= kFirstKatakana && byte <= kLastKatakana) return kKatakanaBase + (byte - kFirstKatakana);
  return kReplacement;
}

}  // namespace

uint32_t rom_big_word(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

int rom_read_header(const uint8_t* start, uint32_t length, RomHeader* header) {
  *header = RomHeader{};
  if (length < kRomHeaderSize) return 0;
  header->entry_point = rom_big_word(start + kRomEntryPointOffset);
  header->crc1 = rom_big_word(start + kRomCrc1Offset);
  header->crc2 = rom_big_word(start + kRomCrc2Offset);
  header->title_length = rom_text_utf8(start + kRomTitleOffset, kRomTitleSize, header->title, kRomTitleCapacity);
  header->game_id_length =
      rom_text_utf8(start + kRomGameIdOffset, kRomGameIdSize, header->game_id, kRomGameIdCapacity);
  header->region = start[kRomRegionOffset];
  header->version = start[kRomVersionOffset];
  return 1;
}

uint32_t rom_text_utf8(const uint8_t* bytes, uint32_t count, char* out, uint32_t capacity) {
  if (capacity == 0) return 0;
  while (count > 0 && (bytes[count - 1] == ' ' || bytes[count - 1] == '\0')) --count;
  uint32_t written = 0;
  for (uint32_t i = 0; i < count; ++i) {
    std::array<char, 3> character{};
    const uint32_t n = encode_utf8(code_point_of(bytes[i]), character);
    if (written + n > capacity - 1) break;
    std::memcpy(out + written, character.data(), n);
    written += n;
  }
  out[written] = '\0';
  return written;
}

const char* rom_region_name(uint8_t code) {
  for (const Region& region : kRegions) {
    if (region.code == code) return region.name;
  }
  return "unknown";
}

}  // namespace cartdump

// The pure functions over image bytes of rom/: byte orders, the header, the hashes, the catalogue
// and the report built of them. The checksum has its own file (rom_checksum_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "rom/byte_order.h"
#include "rom/catalogue.h"
#include "rom/hashes.h"
#include "rom/header.h"
#include "rom/report.h"

namespace cartdump {
namespace {

std::string hex(const uint8_t* bytes, uint32_t count) {
  std::string text(2 * count + 1, '\0');
  rom_hex(bytes, count, text.data());
  text.pop_back();
  return text;
}

template <size_t N>
std::string hex(const std::array<uint8_t, N>& bytes) {
  return hex(bytes.data(), static_cast<uint32_t>(N));
}

std::vector<uint8_t> pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 8) * 7 + 1);
  return bytes;
}

TEST(RomByteOrder, ByteZeroTellsTheOrderAndEachConversionUndoesItself) {
  struct Case {
    std::array<uint8_t, 4> first_word;
    RomByteOrder order;
    const char* name;
  };
  const Case cases[] = {
      {{0x80, 0x37, 0x12, 0x40}, RomByteOrder::big, "big"},
      {{0x37, 0x80, 0x40, 0x12}, RomByteOrder::byteswapped, "byteswapped"},
      {{0x40, 0x12, 0x37, 0x80}, RomByteOrder::little, "little"},
      {{0x12, 0x40, 0x80, 0x37}, RomByteOrder::wordswapped, "wordswapped"},
  };
  std::vector<uint8_t> big = pattern(4096 + 3);  // and 3 bytes after the last whole word
  big[0] = 0x80, big[1] = 0x37, big[2] = 0x12, big[3] = 0x40;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> image = big;
    rom_convert_order(image.data(), static_cast<uint32_t>(image.size()), c.order);
    EXPECT_TRUE(std::equal(c.first_word.begin(), c.first_word.end(), image.begin()));
    EXPECT_EQ(rom_byte_order_of(image.data(), static_cast<uint32_t>(image.size())), c.order);
    EXPECT_STREQ(rom_byte_order_name(c.order), c.name);
    RomByteOrder named = RomByteOrder::unknown;
    EXPECT_EQ(rom_byte_order_named(c.name, &named), 1);
    EXPECT_EQ(named, c.order);
    // The bytes after the last whole word stay as they are.
    EXPECT_TRUE(std::equal(image.end() - 3, image.end(), big.end() - 3));
    rom_convert_order(image.data(), static_cast<uint32_t>(image.size()), c.order);
    EXPECT_EQ(image, big);
  }
  const uint8_t none[] = {0x00, 0x37, 0x12, 0x40};
  EXPECT_EQ(rom_byte_order_of(none, 4), RomByteOrder::unknown);
  EXPECT_EQ(rom_byte_order_of(big.data(), 0), RomByteOrder::unknown);
  RomByteOrder unchanged = RomByteOrder::little;
  EXPECT_EQ(rom_byte_order_named("middle", &unchanged), 0);
  EXPECT_EQ(unchanged, RomByteOrder::little);
}

TEST(RomHeader, TitleIsJisX0201AsUtf8) {
  struct Case {
    std::string bytes;
    std::string utf8;
  };
  const Case cases[] = {
      {"SUPER MARIO 64      ", "SUPER MARIO 64"},
      {std::string("ZELDA\0\0 \0", 9), "ZELDA"},             // trailing spaces and NULs go
      {"  SPACED  OUT", "  SPACED  OUT"},                     // leading and inner ones stay
      {"\xA1\xB1\xDF", "\xEF\xBD\xA1\xEF\xBD\xB1\xEF\xBE\x9F"},  // U+FF61, U+FF71, U+FF9F
      {"A\x80" "B\xA0" "C\xE0" "D\xFF", "A\xEF\xBF\xBD" "B\xEF\xBF\xBD" "C\xEF\xBF\xBD" "D\xEF\xBF\xBD"},
      {"\x1B[31m\x7F", "\x1B[31m\x7F"},  // ASCII, control characters included: the report's reader decides
      {std::string("\0", 1), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    char out[kRomTitleCapacity];
    const uint32_t n = rom_text_utf8(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                     static_cast<uint32_t>(c.bytes.size()), out, sizeof out);
    EXPECT_EQ(std::string(out, n), c.utf8);
    EXPECT_EQ(out[n], '\0');
  }
  // Twenty katakana take all of the capacity; a smaller one holds whole characters only.
  const std::string katakana(kRomTitleSize, '\xB6');
  char out[kRomTitleCapacity];
  EXPECT_EQ(rom_text_utf8(reinterpret_cast<const uint8_t*>(katakana.data()), kRomTitleSize, out, sizeof out),
            kRomTitleCapacity - 1);
  char small[6];
  EXPECT_EQ(rom_text_utf8(reinterpret_cast<const uint8_t*>(katakana.data()), kRomTitleSize, small, sizeof small), 3u);
  EXPECT_EQ(std::string(small), "\xEF\xBD\xB6");
}

TEST(RomHeader, FieldsAndRegions) {
  std::vector<uint8_t> image(kRomHeaderSize, 0);
  const uint8_t words[] = {0x80, 0x00, 0x04, 0x00, 0, 0, 0, 0, 0x63, 0x5A, 0x2B, 0xFF, 0x8B, 0x02, 0x23, 0x26};
  std::copy(std::begin(words), std::end(words), image.begin() + 8);
  const std::string title = "SUPER MARIO 64      ";
  std::copy(title.begin(), title.end(), image.begin() + kRomTitleOffset);
  const std::string game_id = "NSMJ";
  std::copy(game_id.begin(), game_id.end(), image.begin() + kRomGameIdOffset);
  image[kRomVersionOffset] = 2;

  RomHeader header{};
  ASSERT_EQ(rom_read_header(image.data(), kRomHeaderSize, &header), 1);
  EXPECT_EQ(header.entry_point, 0x80000400u);
  EXPECT_EQ(header.crc1, 0x635A2BFFu);
  EXPECT_EQ(header.crc2, 0x8B022326u);
  EXPECT_EQ(std::string(header.title, header.title_length), "SUPER MARIO 64");
  EXPECT_EQ(std::string(header.game_id, header.game_id_length), "NSMJ");
  EXPECT_STREQ(rom_region_name(header.region), "Japan");
  EXPECT_EQ(header.version, 2);
  EXPECT_EQ(rom_read_header(image.data(), kRomHeaderSize - 1, &header), 0);
  EXPECT_EQ(header.title_length, 0u);

  struct Region {
    char code;
    const char* name;
  };
  const Region regions[] = {{'E', "North America"}, {'J', "Japan"}, {'P', "Europe"},    {'D', "Germany"},
                            {'F', "France"},        {'I', "Italy"}, {'S', "Spain"},     {'U', "Australia"},
                            {'X', "Europe"},        {'Y', "Europe"}, {'A', "all regions"}, {'e', "unknown"},
                            {'\0', "unknown"},      {'Z', "unknown"}};
  for (const Region& r : regions) {
    EXPECT_STREQ(rom_region_name(static_cast<uint8_t>(r.code)), r.name) << "code " << int{r.code};
  }
}

// Independent vectors: the published digests of "abc", the CRC-32 check value of "123456789",
// and those Python's zlib and hashlib gave for the checksum vector's input.
TEST(RomHashes, KnownDigestsWholeOrInPieces) {
  RomHashes hashes{};
  ASSERT_EQ(rom_hashes_of(reinterpret_cast<const uint8_t*>("abc"), 3, &hashes), 1);
  EXPECT_EQ(hex(hashes.md5), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hex(hashes.sha1), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hex(hashes.sha256), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  ASSERT_EQ(rom_hashes_of(reinterpret_cast<const uint8_t*>("123456789"), 9, &hashes), 1);
  EXPECT_EQ(hashes.crc32, 0xCBF43926u);

  std::ifstream in(CARTDUMP_CHECKSUM_VECTOR ".bin", std::ios::binary);
  const std::vector<uint8_t> input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::ifstream sums(CARTDUMP_CHECKSUM_VECTOR ".hashes");
  std::string crc32, md5, sha1, sha256;
  sums >> crc32 >> md5 >> sha1 >> sha256;
  ASSERT_FALSE(input.empty() || sha256.empty()) << "ctest writes " CARTDUMP_CHECKSUM_VECTOR ".bin and .hashes";

  // The same in pieces of any length, the empty one included.
  for (const uint32_t piece : {uint32_t{1}, uint32_t{3}, uint32_t{4096}, uint32_t{0x33333}, uint32_t{0x101000}}) {
    SCOPED_TRACE(testing::Message() << "pieces of " << piece);
    RomHashState state{};
    ASSERT_EQ(rom_hash_begin(&state), 1);
    rom_hash_update(&state, input.data(), 0);
    for (size_t at = 0; at < input.size(); at += piece) {
      rom_hash_update(&state, input.data() + at, static_cast<uint32_t>(std::min<size_t>(piece, input.size() - at)));
    }
    ASSERT_EQ(rom_hash_end(&state, &hashes), 1);
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", hashes.crc32);
    EXPECT_EQ(crc, crc32);
    EXPECT_EQ(hex(hashes.md5), md5);
    EXPECT_EQ(hex(hashes.sha1), sha1);
    EXPECT_EQ(hex(hashes.sha256), sha256);
  }
  uint8_t boot_md5[kMd5Size];
  ASSERT_EQ(rom_md5(input.data(), static_cast<uint32_t>(input.size()), boot_md5), 1);
  EXPECT_EQ(hex(boot_md5, kMd5Size), md5);
}

TEST(RomCatalogue, StatusFromTheTagsOfTheName) {
  struct Case {
    const char* name;
    RomStatus status;
  };
  const Case cases[] = {
      {"Game (U) [!]", RomStatus::verified},
      {"Game (U)", RomStatus::listed},
      {"Game (E) (M3) [b1]", RomStatus::bad},
      {"Game (U) [o2]", RomStatus::overdump},
      {"Game (U) [h1C]", RomStatus::hack},
      {"Game (U) [t1]", RomStatus::trainer},
      {"Game (U) [f2] (NTSC)", RomStatus::fixed},
      {"Game (U) [p1]", RomStatus::pirate},
      {"Game (U) [a1]", RomStatus::alternate},
      // The most serious of several: bad, overdump, hack, trainer, fixed, pirate, alternate, verified.
      {"Game (U) [!][b1]", RomStatus::bad},
      {"Game (U) [b1][o1]", RomStatus::bad},
      {"Game (U) [o1][h1C]", RomStatus::overdump},
      {"Game (U) [f1][h2C]", RomStatus::hack},
      {"Game (U) [t1][f1] (PAL-NTSC)", RomStatus::trainer},
      {"Game (U) [p1][f1]", RomStatus::fixed},
      {"Game (U) [a1][p1]", RomStatus::pirate},
      {"Game (U) [!][a1]", RomStatus::alternate},
      // Not status tags: translations, other words, an empty or unclosed tag.
      {"Game (U) [T+Eng1.0_Someone]", RomStatus::listed},
      {"Game (J) [CART HACK]", RomStatus::listed},
      {"Game (U) []", RomStatus::listed},
      {"Game (U) [!p]", RomStatus::listed},
      {"Game (U) [b1", RomStatus::listed},
      {"Game (U) [x [b1]", RomStatus::bad},  // the tag is what the last '[' opens
      {"Game (U) ] [o1]", RomStatus::overdump},
      {"", RomStatus::listed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(rom_status_of_name(c.name, static_cast<uint32_t>(std::strlen(c.name))), c.status);
  }
  EXPECT_STREQ(rom_status_name(RomStatus::overdump), "overdump");
  EXPECT_STREQ(rom_status_name(RomStatus::unconfirmed), "unconfirmed");
}

RomCatalogue parse(const std::string& text) {
  RomCatalogue catalogue;
  rom_catalogue_parse(text.data(), static_cast<uint32_t>(text.size()), &catalogue);
  return catalogue;
}

std::array<uint8_t, kMd5Size> md5_of(const char* hex_text) {
  std::array<uint8_t, kMd5Size> md5{};
  for (uint32_t i = 0; i < kMd5Size; ++i) {
    unsigned byte = 0;
    std::sscanf(hex_text + 2 * i, "%2x", &byte);
    md5[i] = static_cast<uint8_t>(byte);
  }
  return md5;
}

// Two dumps of game A share a CRC pair, the bad one listed first; game D has no verified dump.
const char* const kLookupCatalogue =
    "; test catalogue\r\n"
    "GoodName=before any section\r\n"
    "[BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB]\r\n"
    "GoodName=Game A (U) [b1]\r\n"
    "CRC=11111111 22222222\r\n"
    "RefMD5=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n"
    "\r\n"
    "[ aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa ]\r\n"
    "GoodName = Game A (U) [!]\r\n"
    "CRC=11111111 22222222\r\n"
    "SaveType=SRAM\r\n"
    "Players=2\r\n"
    "Rumble=Yes\r\n"
    "\r\n"
    "[DDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDD]\r\n"
    "GoodName=Game D (J)\r\n"
    "CRC=272EA8C 76F8FB3\r\n"
    "[EEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEE]\r\n"
    "GoodName=Game D (J) [h1C]\r\n"
    "CRC=0272EA8C 076F8FB3\r\n"
    "[not an md5]\r\n"
    "GoodName=Nameless\r\n"
    "CRC=XYZ 1\r\n";

TEST(RomCatalogue, LookupByMd5ThenByTheCrcPair) {
  const RomCatalogue catalogue = parse(kLookupCatalogue);
  ASSERT_EQ(catalogue.entries.size(), 5u);
  EXPECT_EQ(catalogue.entries[2].crc1, 0x0272EA8Cu) << "a CRC word may have fewer than 8 digits";
  EXPECT_FALSE(catalogue.entries[4].fields & kRomFieldCrc) << "a CRC that cannot be read is not given";
  EXPECT_FALSE(catalogue.entries[4].fields & kRomFieldMd5);

  struct Case {
    const char* what;
    const char* md5;
    std::array<uint32_t, 2> crc;
    bool with_crc;
    RomMatchKind by;
    RomStatus status;
    int32_t entry;
  };
  const uint32_t a1 = 0x11111111, a2 = 0x22222222;
  const Case cases[] = {
      {"the MD5 of the bad dump beats the CRC pair of the verified one", "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",
       {a1, a2}, true, RomMatchKind::md5, RomStatus::bad, 0},
      {"a section name read in any case and trimmed", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", {0, 0}, false,
       RomMatchKind::md5, RomStatus::verified, 1},
      {"the CRC pair alone: unconfirmed, naming the verified dump", "00000000000000000000000000000000", {a1, a2},
       true, RomMatchKind::crc, RomStatus::unconfirmed, 1},
      {"the CRC pair alone, no verified dump: the first", "00000000000000000000000000000000",
       {0x0272EA8C, 0x076F8FB3}, true, RomMatchKind::crc, RomStatus::unconfirmed, 2},
      {"no CRC pair to look up", "00000000000000000000000000000000", {a1, a2}, false, RomMatchKind::none,
       RomStatus::listed, -1},
      {"neither", "00000000000000000000000000000000", {a2, a1}, true, RomMatchKind::none, RomStatus::listed, -1},
      {"an MD5 with no CRC pair given", "dddddddddddddddddddddddddddddddd", {0, 0}, false, RomMatchKind::md5,
       RomStatus::listed, 2},
      {"hack", "eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee", {a1, a2}, true, RomMatchKind::md5, RomStatus::hack, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::array<uint8_t, kMd5Size> md5 = md5_of(c.md5);
    RomCatalogueMatch match{};
    EXPECT_EQ(rom_catalogue_lookup(&catalogue, md5.data(), c.with_crc ? c.crc.data() : nullptr, &match), c.by);
    EXPECT_EQ(match.by, c.by);
    EXPECT_EQ(match.status, c.status);
    EXPECT_EQ(match.entry, c.entry);
  }
}

TEST(RomCatalogue, RefMd5InheritsWhatASectionDoesNotGive) {
  const RomCatalogue catalogue = parse(
      "[11111111111111111111111111111111]\n"  // refers forward, along a chain of two
      "GoodName=One\n"
      "Rumble=No\n"
      "RefMD5=22222222222222222222222222222222\n"
      "[22222222222222222222222222222222]\n"
      "GoodName=Two\n"
      "Players=3\n"
      "RefMD5=33333333333333333333333333333333\n"
      "[33333333333333333333333333333333]\n"
      "GoodName=Three\n"
      "CRC=01234567 89ABCDEF\n"
      "SaveType=Flash RAM\n"
      "Players=1\n"
      "Rumble=Yes\n"
      "[44444444444444444444444444444444]\n"  // a cycle ends
      "GoodName=Four\n"
      "RefMD5=55555555555555555555555555555555\n"
      "[55555555555555555555555555555555]\n"
      "SaveType=SRAM\n"
      "RefMD5=44444444444444444444444444444444\n"
      "[66666666666666666666666666666666]\n"  // a reference to nothing
      "GoodName=Six\n"
      "RefMD5=99999999999999999999999999999999\n");
  ASSERT_EQ(catalogue.entries.size(), 6u);
  const RomCatalogueEntry& one = catalogue.entries[0];
  EXPECT_EQ(one.name, "One");
  EXPECT_EQ(one.rumble, 0) << "its own value stays";
  EXPECT_EQ(one.players, 3) << "from the nearest section that gives it";
  EXPECT_EQ(one.save_type, "Flash RAM");
  EXPECT_EQ(one.crc1, 0x01234567u);
  EXPECT_EQ(one.fields & kRomInheritedFields, kRomInheritedFields);
  EXPECT_EQ(catalogue.entries[1].save_type, "Flash RAM");
  EXPECT_EQ(catalogue.entries[1].players, 3);
  EXPECT_EQ(catalogue.entries[3].save_type, "SRAM");
  EXPECT_EQ(catalogue.entries[4].name, "Four");
  EXPECT_EQ(catalogue.entries[5].fields & kRomInheritedFields, kRomFieldName);
}

// Debian's mupen64plus-data: 3,217 sections, 1,744 of them with RefMD5, every reference found.
TEST(RomCatalogue, TheRealCatalogueParsesCompletely) {
  std::ifstream in(CARTDUMP_SYSTEM_CATALOGUE, std::ios::binary);
  if (!in) GTEST_SKIP() << "no " CARTDUMP_SYSTEM_CATALOGUE " (Debian's mupen64plus-data; scripts/test.sh installs it)";
  std::ostringstream text;
  text << in.rdbuf();
  const RomCatalogue catalogue = parse(text.str());
  EXPECT_EQ(catalogue.entries.size(), 3217u);
  EXPECT_EQ(catalogue.by_md5.size(), 3217u) << "every section is named by an MD5";
  size_t references = 0;
  size_t resolved = 0;
  for (const RomCatalogueEntry& entry : catalogue.entries) {
    if (!(entry.fields & kRomFieldRef)) continue;
    ++references;
    RomCatalogueMatch match{};
    resolved += rom_catalogue_lookup(&catalogue, entry.ref_md5.data(), nullptr, &match) == RomMatchKind::md5;
  }
  EXPECT_EQ(references, 1744u);
  EXPECT_EQ(resolved, references);

  // "1080 Snowboarding (E) (M4) [b1]" gives no SaveType of its own; its reference gives SRAM.
  RomCatalogueMatch match{};
  const auto bad = md5_of("4E08D29B094C13C030AC73A1DA2F8CD2");
  ASSERT_EQ(rom_catalogue_lookup(&catalogue, bad.data(), nullptr, &match), RomMatchKind::md5);
  const RomCatalogueEntry& entry = catalogue.entries[static_cast<size_t>(match.entry)];
  EXPECT_EQ(entry.name, "1080 Snowboarding (E) (M4) [b1]");
  EXPECT_EQ(match.status, RomStatus::bad);
  EXPECT_EQ(entry.save_type, "SRAM");
  // A section name with a trailing space, and one in mixed case.
  for (const char* md5 : {"55CD360F12BE8063C9E7B6F59F268170", "5d72155e00bf2cab41b0f4a2f2e09c61"}) {
    const auto key = md5_of(md5);
    EXPECT_EQ(rom_catalogue_lookup(&catalogue, key.data(), nullptr, &match), RomMatchKind::md5) << md5;
  }
}

// A report is suspect when the checksum differs or the catalogue lists the MD5 as a bad dump or an
// overdump; nothing else makes it so.
TEST(RomReport, SuspectOnlyForAChecksumThatDiffersOrAListedBadDump) {
  // An image too short to check: only the catalogue speaks.
  const std::vector<uint8_t> image = pattern(0x800);
  RomHashes hashes{};
  ASSERT_EQ(rom_hashes_of(image.data(), static_cast<uint32_t>(image.size()), &hashes), 1);
  const std::string md5 = hex(hashes.md5);
  struct Case {
    const char* name;  // the catalogue's name for the image; nullptr for none
    int suspect;
    RomStatus status;
  };
  const Case cases[] = {{nullptr, 0, RomStatus::listed},      {"X [!]", 0, RomStatus::verified},
                        {"X [b1]", 1, RomStatus::bad},        {"X [o1]", 1, RomStatus::overdump},
                        {"X [h1C]", 0, RomStatus::hack},      {"X [a1]", 0, RomStatus::alternate}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name != nullptr ? c.name : "no catalogue");
    const RomCatalogue catalogue = parse("[" + md5 + "]\nGoodName=" + (c.name ? c.name : "") + "\n");
    RomReport report{};
    EXPECT_EQ(rom_report_build(image.size(), RomByteOrder::big, &hashes, image.data(),
                               static_cast<uint32_t>(image.size()), c.name ? &catalogue : nullptr, &report),
              c.suspect);
    EXPECT_EQ(report.suspect, c.suspect);
    EXPECT_EQ(report.catalogue.status, c.status);
    EXPECT_EQ(report.has_catalogue, c.name != nullptr);
    EXPECT_EQ(report.check.state, RomCheckState::too_short);
    EXPECT_EQ(report.has_header, 1);
  }

  // Shorter than the header: nothing of it, and the catalogue is asked by MD5 alone (zero words
  // read from a missing header would name this section).
  RomReport report{};
  const RomCatalogue catalogue = parse("[00000000000000000000000000000000]\nGoodName=Y\nCRC=0 0\n");
  EXPECT_EQ(rom_report_build(0x20, RomByteOrder::unknown, &hashes, image.data(), 0x20, &catalogue, &report), 0);
  EXPECT_EQ(report.has_header, 0);
  EXPECT_EQ(report.size, 0x20u);
  EXPECT_EQ(report.catalogue.by, RomMatchKind::none);
}

}  // namespace
}  // namespace cartdump

// The synthetic cartridges of testrom.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "rom/checksum.h"
#include "sim/test_rom.h"

namespace cartdump::sim {
namespace {

uint32_t big_word(const std::vector<uint8_t>& image, size_t offset) {
  return static_cast<uint32_t>(image[offset]) << 24 | image[offset + 1] << 16 | image[offset + 2] << 8 |
         image[offset + 3];
}

TEST(TestRom, TheSameSeedGivesTheSameCartridgeInEveryOrder) {
  struct Case {
    const char* name;
    std::array<uint8_t, 4> first_word;
  };
  const Case cases[] = {
      {"big", {0x80, 0x37, 0x12, 0x40}},
      {"byteswapped", {0x37, 0x80, 0x40, 0x12}},
      {"little", {0x40, 0x12, 0x37, 0x80}},
      {"wordswapped", {0x12, 0x40, 0x80, 0x37}},
  };
  const std::vector<uint8_t> cartridge = make_test_rom(3, 0x20000);
  EXPECT_EQ(make_test_rom(3, 0x20000), cartridge);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteOrder order{};
    ASSERT_TRUE(byte_order_named(c.name, order));
    std::vector<uint8_t> image = make_test_rom(3, 0x20000);
    convert_byte_order(image, order);
    EXPECT_TRUE(std::equal(c.first_word.begin(), c.first_word.end(), image.begin()));
    // Every word is rearranged the way the first one is.
    for (size_t i = 0; i < 4; ++i) {
      const size_t from = static_cast<size_t>(
          std::find(cartridge.begin(), cartridge.begin() + 4, c.first_word[i]) - cartridge.begin());
      for (const size_t word : {size_t{0x10}, size_t{0x4000}, cartridge.size() - 4}) {
        EXPECT_EQ(image[word + i], cartridge[word + from]) << "word at " << word << ", byte " << i;
      }
    }
    convert_byte_order(image, order);
    EXPECT_EQ(image, cartridge);
  }
  ByteOrder unused{};
  EXPECT_FALSE(byte_order_named("middle", unused));
}

TEST(TestRom, HeaderCarriesTitleGameCodeAndChecksums) {
  const std::vector<uint8_t> image = make_test_rom(0x2A, 0x102000);
  EXPECT_EQ(std::string(image.begin() + 0x20, image.begin() + 0x34), "TESTROM 00000000002A");
  EXPECT_EQ(std::string(image.begin() + 0x3B, image.begin() + 0x3F), "NZZE");
  const std::array<uint32_t, 2> sums = test_rom_checksums(image);
  EXPECT_EQ(big_word(image, 0x10), sums[0]);
  EXPECT_EQ(big_word(image, 0x14), sums[1]);

  // The checksums cover 0x1000 up to 0x101000 and nothing else.
  struct Case {
    size_t byte;
    bool covered;
  };
  for (const Case c : {Case{0x1000, true}, Case{0x100FFF, true}, Case{0xFFF, false}, Case{0x101000, false}}) {
    SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << c.byte);
    std::vector<uint8_t> changed = image;
    changed[c.byte] ^= 0x01;
    EXPECT_EQ(test_rom_checksums(changed) != sums, c.covered);
  }
}

// A family asked for: the header carries that family's boot-code checksum, which the check finds
// by computation alone (the boot code is the seed's); title and game id as asked.
TEST(TestRom, HeaderOfAFamilyPassesTheBootCodeCheck) {
  struct Case {
    const char* family;
    RomChecksumFamily expected;
  };
  const Case cases[] = {{"6101", RomChecksumFamily::family_6102}, {"7103", RomChecksumFamily::family_6103},
                        {"6105", RomChecksumFamily::family_6105}, {"6106", RomChecksumFamily::family_6106},
                        {"5101", RomChecksumFamily::family_5101}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family);
    TestRomHeader header{"ZELDA TEST", "CZLJ", RomChecksumFamily::none};
    ASSERT_EQ(rom_family_named(c.family, &header.family), 1);
    ASSERT_EQ(test_rom_header_problem(header, 0x400000), "");
    const std::vector<uint8_t> image = make_test_rom(9, 0x400000, header);
    EXPECT_EQ(std::string(image.begin() + 0x20, image.begin() + 0x34), "ZELDA TEST          ");
    EXPECT_EQ(std::string(image.begin() + 0x3B, image.begin() + 0x3F), "CZLJ");
    RomCheck check{};
    rom_check(image.data(), static_cast<uint32_t>(image.size()), RomCic::unknown, &check);
    EXPECT_EQ(check.state, RomCheckState::matches);
    EXPECT_EQ(check.matched, c.expected);
    // Only the header differs from the cartridge of the same seed without a family.
    const std::vector<uint8_t> plain = make_test_rom(9, 0x400000);
    EXPECT_TRUE(std::equal(image.begin() + 0x40, image.end(), plain.begin() + 0x40));
  }
  // The maker's own words are none of the families'.
  RomCheck check{};
  const std::vector<uint8_t> plain = make_test_rom(9, 0x400000);
  rom_check(plain.data(), static_cast<uint32_t>(plain.size()), RomCic::unknown, &check);
  EXPECT_EQ(check.state, RomCheckState::differs);

  struct Problem {
    TestRomHeader header;
    uint32_t size;
    bool fine;
  };
  const Problem problems[] = {
      {{"", "", RomChecksumFamily::family_6102}, 0x101000, true},
      {{"", "", RomChecksumFamily::family_6102}, 0x100FFC, false},
      // testrom's entry point is 0x80000400: the 5101 checksum reads 0x3FE000 bytes from 0x1000.
      {{"", "", RomChecksumFamily::family_5101}, 0x3FF000, true},
      {{"", "", RomChecksumFamily::family_5101}, 0x3FEFFC, false},
      {{std::string(20, 'T'), "ABCD", RomChecksumFamily::none}, 0x40, true},
      {{std::string(21, 'T'), "", RomChecksumFamily::none}, 0x1000, false},
      {{"", "ABC", RomChecksumFamily::none}, 0x1000, false},
      {{"", "ABCDE", RomChecksumFamily::none}, 0x1000, false},
  };
  for (const Problem& p : problems) {
    EXPECT_EQ(test_rom_header_problem(p.header, p.size).empty(), p.fine)
        << "title " << p.header.title << ", game id " << p.header.game_id << ", size " << p.size;
  }
}

TEST(TestRom, SeedsAndSizesGiveDifferentCartridges) {
  const std::vector<uint8_t> one = make_test_rom(1, 0x10000);
  const std::vector<uint8_t> two = make_test_rom(2, 0x10000);
  ASSERT_EQ(one.size(), two.size());
  // Past the header nearly every byte differs; a small image is the start of a larger one.
  size_t same = 0;
  for (size_t i = kTestRomHeaderSize; i < one.size(); ++i) same += one[i] == two[i];
  EXPECT_LT(same, one.size() / 64);
  const std::vector<uint8_t> larger = make_test_rom(1, 0x20000);
  EXPECT_TRUE(std::equal(one.begin() + 0x18, one.end(), larger.begin() + 0x18));
  EXPECT_TRUE(test_rom_size_valid(64));
  EXPECT_FALSE(test_rom_size_valid(60));
  EXPECT_FALSE(test_rom_size_valid(1002));
}

}  // namespace
}  // namespace cartdump::sim

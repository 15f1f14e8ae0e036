// The boot-code checksum and the boot-code families (rom/checksum.h), on the known-answer vectors
// that make_checksum_vector.py writes (a CTest fixture runs it before these tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "rom/checksum.h"
#include "rom/hashes.h"
#include "rom/header.h"

namespace cartdump {
namespace {

constexpr uint32_t kVectorSize = 0x101000;

// The vector's input, read once; empty (and the test fails) when the fixture has not written it.
const std::vector<uint8_t>& vector_input() {
  static const std::vector<uint8_t> input = [] {
    std::ifstream in(CARTDUMP_CHECKSUM_VECTOR ".bin", std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }();
  return input;
}

#define ASSERT_VECTOR_READ()                                                                          \
  ASSERT_EQ(vector_input().size(), kVectorSize)                                                       \
      << "no " CARTDUMP_CHECKSUM_VECTOR ".bin: ctest writes it (tests/make_checksum_vector.py) before " \
         "the tests that need it"

void put_word(std::vector<uint8_t>& image, uint32_t offset, uint32_t word) {
  for (uint32_t i = 0; i < 4; ++i) image[offset + i] = static_cast<uint8_t>(word >> (24 - 8 * i));
}

struct Vector {
  RomChecksumFamily family;
  uint32_t crc1;
  uint32_t crc2;
};

constexpr Vector kVectors[] = {
    {RomChecksumFamily::family_6102, 0x31E282B9, 0xBA271CE1},
    {RomChecksumFamily::family_6103, 0xABA8B044, 0x30D2A660},
    {RomChecksumFamily::family_6105, 0x1746232F, 0xE87AF1D3},
    {RomChecksumFamily::family_6106, 0x2D694D46, 0x9D1C8275},
    {RomChecksumFamily::family_5101, 0x5E408948, 0xB447D3FC},
};

TEST(RomChecksum, KnownAnswerVectorsOfEveryFamily) {
  ASSERT_VECTOR_READ();
  const std::vector<uint8_t>& input = vector_input();
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(rom_family_label(v.family));
    uint32_t crc1 = 0;
    uint32_t crc2 = 0;
    ASSERT_EQ(rom_checksum(v.family, input.data(), kVectorSize, &crc1, &crc2), 1);
    EXPECT_EQ(crc1, v.crc1);
    EXPECT_EQ(crc2, v.crc2);
    // One byte fewer is too short to check.
    EXPECT_EQ(rom_checksum(v.family, input.data(), kVectorSize - 1, &crc1, &crc2), 0);
  }
}

// An unknown boot code is tried against every family: the vector's words for a family name that
// family; with a known boot code only its own family counts.
TEST(RomChecksum, TheCheckNamesTheFamilyWhoseWordsTheHeaderCarries) {
  ASSERT_VECTOR_READ();
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(rom_family_label(v.family));
    std::vector<uint8_t> image = vector_input();
    put_word(image, kRomCrc1Offset, v.crc1);
    put_word(image, kRomCrc2Offset, v.crc2);
    RomCheck check{};
    rom_check(image.data(), kVectorSize, RomCic::unknown, &check);
    EXPECT_EQ(check.state, RomCheckState::matches);
    EXPECT_EQ(check.matched, v.family);
    EXPECT_EQ(check.computed_family, v.family);
    EXPECT_EQ(check.crc1_computed, v.crc1);
    EXPECT_EQ(check.crc2_computed, v.crc2);
  }

  std::vector<uint8_t> image = vector_input();
  put_word(image, kRomCrc1Offset, kVectors[2].crc1);  // the 6105 words
  put_word(image, kRomCrc2Offset, kVectors[2].crc2);
  struct Case {
    RomCic cic;
    RomCheckState state;
    RomChecksumFamily matched;
    RomChecksumFamily computed;
  };
  const Case cases[] = {
      {RomCic::cic_6105, RomCheckState::matches, RomChecksumFamily::family_6105, RomChecksumFamily::family_6105},
      // A known boot code of another family decides: its words are given, and nothing matched.
      {RomCic::cic_6103, RomCheckState::differs, RomChecksumFamily::none, RomChecksumFamily::family_6103},
      {RomCic::cic_7102, RomCheckState::differs, RomChecksumFamily::none, RomChecksumFamily::family_6102},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rom_cic_label(c.cic));
    RomCheck check{};
    rom_check(image.data(), kVectorSize, c.cic, &check);
    EXPECT_EQ(check.state, c.state);
    EXPECT_EQ(check.matched, c.matched);
    EXPECT_EQ(check.computed_family, c.computed);
  }

  // Words that no family gives: the 6102 computation's words are reported.
  put_word(image, kRomCrc1Offset, 0x12345678);
  RomCheck check{};
  rom_check(image.data(), kVectorSize, RomCic::unknown, &check);
  EXPECT_EQ(check.state, RomCheckState::differs);
  EXPECT_EQ(check.matched, RomChecksumFamily::none);
  EXPECT_EQ(check.computed_family, RomChecksumFamily::family_6102);
  EXPECT_EQ(check.crc1_computed, kVectors[0].crc1);

  // Too short to check at all.
  rom_check(image.data(), kVectorSize - 4, RomCic::unknown, &check);
  EXPECT_EQ(check.state, RomCheckState::too_short);
  EXPECT_EQ(check.computed_family, RomChecksumFamily::none);
}

// Only the checksummed megabyte counts: a bit flipped in it changes both words of every family, a
// bit flipped before it (in the boot code or the header's other fields) changes neither.
TEST(RomChecksum, CoversTheMegabyteFrom0x1000) {
  ASSERT_VECTOR_READ();
  struct Case {
    uint32_t byte;
    bool covered;
  };
  for (const Case c : {Case{0x1000, true}, Case{0x80000, true}, Case{0x100FFF, true}, Case{0x20, false},
                       Case{0xFFF, false}}) {
    SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << c.byte);
    std::vector<uint8_t> image = vector_input();
    image[c.byte] ^= 0x10;
    for (const Vector& v : kVectors) {
      uint32_t crc1 = 0;
      uint32_t crc2 = 0;
      rom_checksum(v.family, image.data(), kVectorSize, &crc1, &crc2);
      EXPECT_EQ(crc1 != v.crc1 || crc2 != v.crc2, c.covered) << rom_family_label(v.family);
    }
  }
  // The 6105 computation also mixes in the boot code's words at 0x750 to 0x84F.
  std::vector<uint8_t> image = vector_input();
  image[0x760] ^= 0x01;
  uint32_t crc1 = 0;
  uint32_t crc2 = 0;
  rom_checksum(RomChecksumFamily::family_6105, image.data(), kVectorSize, &crc1, &crc2);
  EXPECT_EQ(crc1, kVectors[2].crc1);  // CRC1 does not see the table
  EXPECT_NE(crc2, kVectors[2].crc2);
}

// With the entry point 0x80000400 the 5101 computation reads 0x3FE000 bytes, the others 1 MiB.
TEST(RomChecksum, The5101FamilyReadsLongerForItsEntryPoint) {
  ASSERT_VECTOR_READ();
  std::vector<uint8_t> image = vector_input();
  image.resize(kRomStartLength);
  for (size_t i = kVectorSize; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  uint32_t short1 = 0;
  uint32_t short2 = 0;
  ASSERT_EQ(rom_checksum(RomChecksumFamily::family_5101, image.data(), kVectorSize, &short1, &short2), 1);
  EXPECT_EQ(short1, kVectors[4].crc1);

  put_word(image, kRomEntryPointOffset, kRomLongEntryPoint5101);
  EXPECT_EQ(rom_checksum_needs(RomChecksumFamily::family_5101, image.data(), kVectorSize), kRomStartLength);
  EXPECT_EQ(rom_checksum_needs(RomChecksumFamily::family_6102, image.data(), kVectorSize), kVectorSize);
  uint32_t crc1 = 0;
  uint32_t crc2 = 0;
  EXPECT_EQ(rom_checksum(RomChecksumFamily::family_5101, image.data(), kVectorSize, &crc1, &crc2), 0)
      << "1 MiB is too short now";
  ASSERT_EQ(rom_checksum(RomChecksumFamily::family_5101, image.data(), kRomStartLength, &crc1, &crc2), 1);
  EXPECT_NE(crc1, short1);
  // The last byte read counts.
  image[kRomStartLength - 1] ^= 0x80;
  uint32_t changed1 = 0;
  uint32_t changed2 = 0;
  rom_checksum(RomChecksumFamily::family_5101, image.data(), kRomStartLength, &changed1, &changed2);
  EXPECT_TRUE(changed1 != crc1 || changed2 != crc2);
  // Other families still read 1 MiB.
  uint32_t other1 = 0;
  uint32_t other2 = 0;
  rom_checksum(RomChecksumFamily::family_6102, image.data(), kRomStartLength, &other1, &other2);
  EXPECT_EQ(other1, kVectors[0].crc1);
}

TEST(RomCic, TheMd5OfTheBootCodeNamesTheFamily) {
  struct Case {
    const char* md5;
    RomCic cic;
    const char* name;
    RomChecksumFamily family;
  };
  const Case cases[] = {
      {"900b4a5b68edb71f4c7ed52acd814fc5", RomCic::cic_6101, "6101", RomChecksumFamily::family_6102},
      {"e24dd796b2fa16511521139d28c8356b", RomCic::cic_6102, "6102", RomChecksumFamily::family_6102},
      {"955894c2e40a698bf98a67b78a4e28fa", RomCic::cic_7102, "7102", RomChecksumFamily::family_6102},
      {"319038097346e12c26c3c21b56f86f23", RomCic::cic_6103, "6103", RomChecksumFamily::family_6103},
      {"ff22a296e55d34ab0a077dc2ba5f5796", RomCic::cic_6105, "6105", RomChecksumFamily::family_6105},
      {"6460387749ac0bd925aa5430bc7864fe", RomCic::cic_6106, "6106", RomChecksumFamily::family_6106},
      {"711f8c3ac54fc70a42626bf6c171443d", RomCic::cic_5101, "5101", RomChecksumFamily::family_5101},
      {"711f8c3ac54fc70a42626bf6c171443e", RomCic::unknown, nullptr, RomChecksumFamily::none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.md5);
    uint8_t md5[kMd5Size];
    for (uint32_t i = 0; i < kMd5Size; ++i) {
      unsigned byte = 0;
      std::sscanf(c.md5 + 2 * i, "%2x", &byte);
      md5[i] = static_cast<uint8_t>(byte);
    }
    EXPECT_EQ(rom_cic_of_md5(md5), c.cic);
    EXPECT_EQ(rom_cic_family(c.cic), c.family);
    if (c.name != nullptr) {
      EXPECT_STREQ(rom_cic_name(c.cic), c.name);
    } else {
      EXPECT_EQ(rom_cic_name(c.cic), nullptr);
    }
  }
  // The boot code of the vector's input (zeros) is none of them; nor is a boot code cut short.
  ASSERT_VECTOR_READ();
  EXPECT_EQ(rom_cic_of(vector_input().data(), kVectorSize), RomCic::unknown);
  EXPECT_EQ(rom_cic_of(vector_input().data(), 0xFFF), RomCic::unknown);
}

TEST(RomCic, FamiliesAreNamedByAnyOfTheirBootCodes) {
  struct Case {
    const char* name;
    int found;
    RomChecksumFamily family;
  };
  const Case cases[] = {
      {"6101", 1, RomChecksumFamily::family_6102}, {"7101", 1, RomChecksumFamily::family_6102},
      {"7102", 1, RomChecksumFamily::family_6102}, {"6102", 1, RomChecksumFamily::family_6102},
      {"7103", 1, RomChecksumFamily::family_6103}, {"6105", 1, RomChecksumFamily::family_6105},
      {"7106", 1, RomChecksumFamily::family_6106}, {"5101", 1, RomChecksumFamily::family_5101},
      {"6104", 0, RomChecksumFamily::none},        {"", 0, RomChecksumFamily::none},
      {"6101/6102", 0, RomChecksumFamily::none},   {"610", 0, RomChecksumFamily::none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RomChecksumFamily family = RomChecksumFamily::none;
    EXPECT_EQ(rom_family_named(c.name, &family), c.found);
    EXPECT_EQ(family, c.family);
  }
}

}  // namespace
}  // namespace cartdump

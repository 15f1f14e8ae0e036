#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "carts/flash_id.h"

namespace cartdump {
namespace {

using Block = std::array<uint8_t, kCfiQueryBlockSize>;

// A query block with the given bytes from offset 32 (the letters) and the size code at byte
// code_at; every other byte 0xEE, so a function that looks elsewhere is caught.
Block query_block(std::array<uint8_t, 6> letters, size_t code_at, uint8_t code) {
  Block block;
  block.fill(0xEE);
  std::copy(letters.begin(), letters.end(), block.begin() + 32);
  block[code_at] = code;
  return block;
}

constexpr std::array<uint8_t, 6> kBigEndian = {0x00, 0x51, 0x00, 0x52, 0x00, 0x59};
constexpr std::array<uint8_t, 6> kLittleEndian = {0x51, 0x00, 0x52, 0x00, 0x59, 0x00};

struct SizeCase {
  const char* what;
  std::array<uint8_t, 6> letters;
  size_t code_at;
  uint8_t code;
  uint32_t size;
};

TEST(FlashId, BigEndianSize) {
  const SizeCase cases[] = {
      {"8 MiB", kBigEndian, 79, 0x17, 0x800000},
      {"smallest code", kBigEndian, 79, 19, 0x80000},
      {"largest code", kBigEndian, 79, 28, 0x10000000},
      {"code below the range", kBigEndian, 79, 18, 0},
      {"code above the range", kBigEndian, 79, 0x1D, 0},
      {"size code in the low byte's place", kBigEndian, 78, 0x17, 0},
      {"little-endian letters", kLittleEndian, 79, 0x17, 0},
      {"one letter wrong", {0x00, 0x51, 0x00, 0x52, 0x00, 0x5A}, 79, 0x17, 0},
      {"high byte of a letter word set", {0x01, 0x51, 0x00, 0x52, 0x00, 0x59}, 79, 0x17, 0},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.what);
    Block block = query_block(c.letters, c.code_at, c.code);
    const Block before = block;
    EXPECT_EQ(cfi_device_size_be(block.data()), c.size);
    EXPECT_EQ(block, before) << "the big-endian test changes nothing";
  }
}

TEST(FlashId, LittleEndianSizeClearsTheLetterHighBytes) {
  const SizeCase cases[] = {
      {"8 MiB", kLittleEndian, 78, 0x17, 0x800000},
      {"high bytes set", {0x51, 0xFF, 0x52, 0xFF, 0x59, 0xFF}, 78, 0x17, 0x800000},
      {"largest code", kLittleEndian, 78, 28, 0x10000000},
      {"code above the range", kLittleEndian, 78, 29, 0},
      {"size code in the high byte's place", kLittleEndian, 79, 0x17, 0},
      {"big-endian letters", kBigEndian, 78, 0x17, 0},
      {"one letter wrong", {0x51, 0x00, 0x52, 0x00, 0x58, 0x00}, 78, 0x17, 0},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.what);
    Block block = query_block(c.letters, c.code_at, c.code);
    Block expected = block;
    expected[33] = expected[35] = expected[37] = 0;
    EXPECT_EQ(cfi_device_size_le(block.data()), c.size);
    EXPECT_EQ(block, expected) << "bytes 33, 35 and 37 cleared in place, nothing else touched";
  }
}

TEST(FlashId, KnownIdentifications) {
  struct IdCase {
    std::array<uint8_t, 4> id;
    bool known;
  };
  const IdCase cases[] = {
      {{0x00, 0x01, 0x22, 0x7E}, true},  {{0x01, 0x01, 0x7E, 0x7E}, true},
      {{0x00, 0x01, 0x7E, 0x22}, false}, {{0x01, 0x01, 0x22, 0x7E}, false},
      {{0x00, 0x01, 0x22, 0x7F}, false}, {{0x00, 0x00, 0x00, 0x00}, false},
  };
  for (const IdCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.id));
    EXPECT_EQ(flash_id_is_known(c.id.data()), c.known);
  }
}

}  // namespace
}  // namespace cartdump

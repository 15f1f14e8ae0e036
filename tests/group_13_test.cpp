// Command group 0x13: the bytes each operation sends, and round trips through the device model.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "carts/cipher.h"
#include "carts/group_13.h"
#include "carts/scrambling.h"
#include "tests/support/group_test.h"
#include "tests/support/sector_bytes.h"

namespace cartdump::test {
namespace {

class Group13 : public GroupTest {};

std::array<uint8_t, 8> encrypted(const uint8_t* head) {
  std::array<uint8_t, 8> block;
  std::copy_n(head, 8, block.begin());
  cipher_encrypt_buffer(block.data(), 8);
  return block;
}

using BulkWrite = int (*)(uint32_t, const uint8_t*, uint32_t);

TEST_F(Group13, BulkWritesCountTheirAddressInWords) {
  cipher_key_from_device_id();
  struct Case {
    const char* name;
    BulkWrite write;
    uint8_t command;
    std::vector<Sent> sent;
  };
  const Case cases[] = {
      {"write_05", g13_write_05, 0x05, {{0x1000, 500}, {0x10FA, 500}}},
      {"write_scrambled: the address halved first", g13_write_scrambled, 0x07, {{0x0800, 500}, {0x08FA, 500}}},
      {"write_skip_blank", g13_write_skip_blank, 0x08, {{0x0800, 480}, {0x08F0, 480}, {0x09E0, 40}}},
  };
  const std::vector<uint8_t> data = random_bytes(1000, 11);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear_record();
    EXPECT_EQ(c.write(0x1000, data.data(), 1000), static_cast<int>(c.sent.size() * 512));
    ASSERT_EQ(calls().size(), 1u);
    expect_sent(commands(), 0x13, c.command, c.sent);
    size_t offset = 0;
    for (size_t k = 0; k < c.sent.size(); ++k) {
      const std::vector<uint8_t> s = sector(k);
      const size_t n = c.sent[k].length;
      if (c.command == 0x05) {
        EXPECT_TRUE(std::equal(s.begin() + 9, s.begin() + 9 + n, data.begin() + offset)) << k;
      } else {
        EXPECT_TRUE(std::equal(s.begin() + 9, s.begin() + 17, encrypted(data.data() + offset).begin())) << k;
        EXPECT_TRUE(std::equal(s.begin() + 17, s.begin() + 9 + n, data.begin() + offset + 8)) << k;
      }
      EXPECT_TRUE(std::all_of(s.begin() + 9 + n, s.begin() + 510, [](uint8_t b) { return b == 0; })) << k;
      offset += n;
    }
  }
}

TEST_F(Group13, ScrambledWritesUseBlowfishWhateverXorModeSays) {
  cipher_key_from_device_id();
  xor_mode = 1;
  xor_key = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::array<uint8_t, 3> data{0xA1, 0xA2, 0xA3};
  const std::array<uint8_t, 8> head{0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0};
  for (BulkWrite write : {g13_write_scrambled, g13_write_skip_blank}) {
    clear_record();
    write(0x20, data.data(), 3);
    ASSERT_EQ(sector_count(), 1u);
    const std::vector<uint8_t> s = sector(0);
    EXPECT_EQ(s[3], 0x10);
    EXPECT_EQ(s[7], 3);
    EXPECT_TRUE(std::equal(s.begin() + 9, s.begin() + 17, encrypted(head.data()).begin()));
    EXPECT_TRUE(std::all_of(s.begin() + 17, s.begin() + 510, [](uint8_t b) { return b == 0; }));
  }
  std::array<uint8_t, 4> back{};
  g13_read(0x20, back.data(), 4);
  EXPECT_EQ(back, (std::array<uint8_t, 4>{0xA1, 0xA2, 0xA3, 0xFF})) << "the device undid the scrambling";
}

TEST_F(Group13, SkipBlankTestsTheCallersBytes) {
  cipher_key_from_device_id();
  std::vector<uint8_t> data(580, 0xFF);
  struct Case {
    const char* name;
    size_t non_ff;  // the one byte that is not 0xFF, or data.size() for none
    std::vector<Sent> sent;
  };
  const Case cases[] = {
      {"all blank, a last chunk of 100 included", 580, {}},
      {"one byte in the first chunk", 479, {{0x0800, 480}}},
      {"one byte in the last chunk", 480, {{0x08F0, 100}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    clear_record();
    std::vector<uint8_t> source = data;
    if (c.non_ff < source.size()) source[c.non_ff] = 0x00;
    g13_write_skip_blank(0x1000, source.data(), static_cast<uint32_t>(source.size()));
    ASSERT_EQ(calls().size(), 1u);
    expect_sent(commands(), 0x13, 0x08, c.sent);
    if (!c.sent.empty()) {
      const size_t offset = c.non_ff < 480 ? 0 : 480;
      const std::vector<uint8_t> s = sector(0);
      EXPECT_TRUE(std::equal(s.begin() + 9, s.begin() + 17, encrypted(source.data() + offset).begin()))
          << "sent scrambled";
    }
    std::vector<uint8_t> back(source.size());
    g13_read(0x1000, back.data(), static_cast<uint32_t>(back.size()));
    EXPECT_EQ(back, source);
  }
}

TEST_F(Group13, ReadsAdvanceInBytes) {
  std::vector<uint8_t> back(10000);
  EXPECT_EQ(g13_read(0x1000, back.data(), 10000), 10000u);
  expect_sent(commands(), 0x13, 0x03, {{0x1000, 8192}, {0x3000, 1808}});
  const std::vector<uint8_t> s = sector(0);
  EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 9),
            (std::vector<uint8_t>{0x5A, 0x13, 0x03, 0x00, 0x30, 0x00, 0x00, 0x10, 0x07}));
  EXPECT_EQ(calls()[1].length, 8192u);
  EXPECT_EQ(calls()[3].length, 1808u);
}

TEST_F(Group13, WordsTravelInTheirCommandsByteOrders) {
  struct Case {
    const char* name;
    int (*write)(uint32_t, uint16_t);
    uint8_t command;
    uint8_t byte9;
    uint8_t byte10;
  };
  const Case cases[] = {
      {"05: high byte first", g13_write_word_05, 0x05, 0x12, 0x34},
      {"06: low byte first", g13_write_word_06, 0x06, 0x34, 0x12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    clear_record();
    EXPECT_EQ(c.write(0x00ABCDEF, 0x1234), 512);
    const std::vector<uint8_t> s = sector(0);
    EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 11),
              (std::vector<uint8_t>{0x5A, 0x13, c.command, 0xEF, 0xCD, 0xAB, 0x00, 0x02, 0x00, c.byte9, c.byte10}));
    EXPECT_TRUE(std::all_of(s.begin() + 11, s.begin() + 510, [](uint8_t b) { return b == 0; }));
    // The device stores words high byte first at twice the word address.
    EXPECT_EQ(device().g13.read(2 * 0x00ABCDEF), 0x12);
    EXPECT_EQ(device().g13.read(2 * 0x00ABCDEF + 1), 0x34);
    clear_record();
    EXPECT_EQ(g13_read_word(2 * 0x00ABCDEF), 0x1234);
    expect_sent(commands(), 0x13, 0x03, {{2 * 0x00ABCDEF, 2}});
  }
}

TEST_F(Group13, ReadWordTakesTheFirstReplyByteAsHigh) {
  device().g13.write(0x40, 0x12);
  device().g13.write(0x41, 0x34);
  EXPECT_EQ(g13_read_word(0x40), 0x1234);
  EXPECT_EQ(g13_read_word(0x41), 0x34FF) << "erased memory follows";
}

TEST_F(Group13, InitSendsCommand01) {
  EXPECT_EQ(g13_init(), 512);
  expect_sent(commands(), 0x13, 0x01, {{0, 0}});
  EXPECT_TRUE(device().g13.ready);
}

TEST_F(Group13, RandomDataRoundTripsThroughEveryWrite) {
  cipher_key_from_device_id();
  const std::vector<uint8_t> data = random_bytes(5001, 12);
  struct Case {
    const char* name;
    BulkWrite write;
    uint32_t address;  // as the write takes it
  };
  const Case cases[] = {
      {"write_05 at a word address", g13_write_05, 0x00200000 / 2},
      {"write_scrambled", g13_write_scrambled, 0x00200000},
      {"write_skip_blank", g13_write_skip_blank, 0x00200000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    c.write(c.address, data.data(), static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> back(data.size());
    EXPECT_EQ(g13_read(0x00200000, back.data(), static_cast<uint32_t>(back.size())), data.size());
    EXPECT_EQ(back, data);
  }
}

TEST_F(Group13, AWriteWhoseBatchWouldOverflowSendsNothing) {
  const uint8_t byte = 0;
  for (BulkWrite write : {g13_write_05, g13_write_scrambled, g13_write_skip_blank}) {
    clear_record();
    EXPECT_EQ(write(0, &byte, 0xFFFFFFFFu), 0);
    EXPECT_TRUE(calls().empty());
  }
}

}  // namespace
}  // namespace cartdump::test

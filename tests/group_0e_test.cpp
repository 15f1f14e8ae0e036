// Command group 0x0E: the bytes each operation sends, and round trips through the device model.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "carts/cipher.h"
#include "carts/group_0e.h"
#include "carts/scrambling.h"
#include "tests/support/group_test.h"
#include "tests/support/sector_bytes.h"

namespace cartdump::test {
namespace {

constexpr std::array<uint8_t, 8> kXorKey{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

class Group0e : public GroupTest {
 protected:
  void configure(sim::DeviceConfig& c) override { c.xor_key = kXorKey; }
  // The sector expected for fields given as (offset, byte), every other byte of 3 to 509 zero.
  static std::vector<uint8_t> expected_sector(uint8_t command, const std::map<size_t, uint8_t>& bytes) {
    std::vector<uint8_t> s(kSectorSize, 0);
    s[1] = 0x0E;
    s[2] = command;
    for (const auto& [offset, value] : bytes) s[offset] = value;
    frame_sectors(s.data(), kSectorSize);
    return s;
  }
};

TEST_F(Group0e, SingleSectorCommandsSendTheirFields) {
  struct Case {
    const char* name;
    std::function<int()> call;
    uint8_t command;
    std::map<size_t, uint8_t> bytes;
  };
  const Case cases[] = {
      {"write_byte_05", [] { return g0e_write_byte_05(0x1234, 0xAB); }, 0x05, {{4, 0x34}, {5, 0x12}, {8, 1}, {12, 0xAB}}},
      {"write_byte_06", [] { return g0e_write_byte_06(0xFFFF, 0x01); }, 0x06, {{4, 0xFF}, {5, 0xFF}, {8, 1}, {12, 0x01}}},
      {"write_byte_08", [] { return g0e_write_byte_08(0x0100, 0xFE); }, 0x08, {{5, 0x01}, {8, 1}, {12, 0xFE}}},
      {"read_byte_04", [] { return g0e_read_byte_04(0xBEEF); }, 0x04, {{4, 0xEF}, {5, 0xBE}, {8, 1}}},
      {"read_byte_07", [] { return g0e_read_byte_07(0x0002); }, 0x07, {{4, 0x02}, {8, 1}}},
      {"set_values",
       [] { return g0e_set_values(0x0102, 0x0304, 0x0506, 0x0708); },
       0x0B,
       {{12, 0x02}, {13, 0x01}, {16, 0x04}, {17, 0x03}, {20, 0x06}, {21, 0x05}, {24, 0x08}, {25, 0x07}}},
      {"read_status", [] { return g0e_read_status(); }, 0x12, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear_record();
    c.call();
    EXPECT_EQ(device().command_file, expected_sector(c.command, c.bytes));
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_EQ(commands()[0].outcome, sim::Outcome::accepted);
  }
}

TEST_F(Group0e, SingleWritesReturnTheSendAndSingleReadsTheirReplyByte) {
  EXPECT_EQ(g0e_write_byte_05(0x0010, 0x5C), 512);
  EXPECT_EQ(g0e_read_byte_04(0x0010), 0x5C);
  ASSERT_EQ(calls().size(), 3u);
  EXPECT_EQ(calls()[2].offset, 0u) << "the reply is read at offset 0";
  EXPECT_EQ(g0e_write_byte_06(0x0020, 0x6D), 512);
  EXPECT_EQ(g0e_write_byte_08(0x0021, 0x8E), 512);
  EXPECT_EQ(g0e_read_byte_07(0x0020), 0x6D);
  EXPECT_EQ(g0e_read_byte_07(0x0021), 0x8E);
  EXPECT_EQ(g0e_read_byte_04(0x0020), 0xFF) << "space 0 is still erased there";
  EXPECT_EQ(g0e_set_values(1, 2, 3, 4), 512);
  EXPECT_EQ(device().g0e.values, (std::array<uint16_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(g0e_read_status(), 0x00);
  g0e_init_scrambling();
  EXPECT_EQ(g0e_read_status(), 0x01);
}

TEST_F(Group0e, BulkWriteWrapsItsAddressAt16Bits) {
  const std::vector<uint8_t> data = random_bytes(1000, 1);
  g0e_write_05(0xFFF0, data.data(), 1000);
  ASSERT_EQ(calls().size(), 1u) << "one write of the command file";
  EXPECT_EQ(calls()[0].length, 3u * 512);
  expect_sent(commands(), 0x0E, 0x05, {{0xFFF0, 498}, {0x01E2, 498}, {0x03D4, 4}});
  for (size_t k = 0; k < 3; ++k) {
    const std::vector<uint8_t> s = sector(k);
    const size_t n = k < 2 ? 498 : 4;
    EXPECT_TRUE(std::equal(s.begin() + 12, s.begin() + 12 + n, data.begin() + 498 * k)) << k;
    EXPECT_TRUE(std::all_of(s.begin() + 12 + n, s.begin() + 510, [](uint8_t b) { return b == 0; })) << k;
  }
  std::vector<uint8_t> back(1000);
  EXPECT_EQ(g0e_read_04(0xFFF0, back.data(), 1000), 1000u);
  EXPECT_EQ(back, data);
}

TEST_F(Group0e, A498ByteChunkFillsTheSectorToByte509) {
  const std::vector<uint8_t> data = random_bytes(498, 2);
  g0e_write_08(0x0100, data.data(), 498);
  ASSERT_EQ(sector_count(), 1u);
  const std::vector<uint8_t> s = sector(0);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), s.begin() + 12));
  expect_sent(commands(), 0x0E, 0x08, {{0x0100, 498}});
  std::vector<uint8_t> back(498);
  g0e_read_07(0x0100, back.data(), 498);
  EXPECT_EQ(back, data);
}

TEST_F(Group0e, ReadsSplitInto8192ByteRequestsAndWrap) {
  std::vector<uint8_t> back(10000);
  EXPECT_EQ(g0e_read_07(0xF000, back.data(), 10000), 10000u);
  expect_sent(commands(), 0x0E, 0x07, {{0xF000, 8192}, {0x1000, 1808}});
  EXPECT_EQ(back, std::vector<uint8_t>(10000, 0xFF)) << "an erased space";
  clear_record();
  EXPECT_EQ(g0e_read_04(0, back.data(), 0), 0u);
  EXPECT_TRUE(calls().empty());
}

TEST_F(Group0e, SkipBlankLeavesOutBlankChunks) {
  const std::vector<uint8_t> data = random_bytes(480, 3);
  const std::vector<uint8_t> ff(480, 0xFF);
  auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<uint8_t> ff100(100, 0xFF);
  const std::vector<uint8_t> data100(data.begin(), data.begin() + 100);
  struct Case {
    const char* name;
    std::vector<uint8_t> source;
    std::vector<Sent> sent;
  };
  const uint16_t a = 0x2000;
  const Case cases[] = {
      {"blank first half", join(ff, data), {{a + 480, 480}}},
      {"blank second half", join(data, ff), {{a, 480}}},
      {"all blank", join(ff, ff), {}},
      {"100 bytes of 0xFF alone: the area's zeros make it differ", ff100, {{a, 100}}},
      {"100 bytes of 0xFF after a blank chunk: the reused slot holds 0xFF", join(ff, ff100), {}},
      {"100 bytes of 0xFF after data: a fresh slot", join(data, ff100), {{a, 480}, {a + 480, 100}}},
      {"no bytes", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    clear_record();
    g0e_write_skip_blank(a, c.source.data(), static_cast<uint16_t>(c.source.size()));
    ASSERT_EQ(calls().size(), 1u) << "one write, empty when nothing is left";
    EXPECT_EQ(calls()[0].length, c.sent.size() * 512);
    expect_sent(commands(), 0x0E, 0x80, c.sent);
    std::vector<uint8_t> back(c.source.size());
    g0e_read_04(a, back.data(), static_cast<uint16_t>(back.size()));
    EXPECT_EQ(back, c.source);
  }
}

TEST_F(Group0e, ALeftOutChunksSlotIsReusedWithoutClearing) {
  std::vector<uint8_t> source(480, 0xFF);
  const std::vector<uint8_t> data = random_bytes(100, 4);
  source.insert(source.end(), data.begin(), data.end());
  g0e_write_skip_blank(0x0300, source.data(), static_cast<uint16_t>(source.size()));
  ASSERT_EQ(sector_count(), 1u);
  const std::vector<uint8_t> s = sector(0);
  EXPECT_EQ(s[4] | s[5] << 8, 0x0300 + 480) << "the address advanced past the blank chunk";
  EXPECT_EQ(s[8] | s[9] << 8, 100);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), s.begin() + 12));
  EXPECT_TRUE(std::all_of(s.begin() + 112, s.begin() + 492, [](uint8_t b) { return b == 0xFF; }))
      << "the blank chunk's bytes stay after the new data";
}

TEST_F(Group0e, ReadWithListCarriesItsEntriesInEverySector) {
  const std::vector<uint16_t> addresses = [] {
    std::vector<uint16_t> a(200);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint16_t>(0x8000 + 3 * i);
    a[0] = 0x1234;
    a[1] = 0x5678;
    return a;
  }();
  const std::vector<uint8_t> values = [] {
    std::vector<uint8_t> v(200);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i + 1);
    v[0] = 0xAB;
    v[1] = 0xCD;
    return v;
  }();
  struct Case {
    uint8_t count;
    uint8_t sent_count;
    uint16_t length;
    std::vector<Sent> sent;
  };
  const Case cases[] = {
      {2, 2, 16, {{0x1230, 16}}},
      {200, 124, 100, {{0x1230, 100}}},
      {0, 0, 100, {{0x1230, 100}}},
      {2, 2, 65535, {{0x1230, 8192}, {0x3230, 8192}, {0x5230, 8192}, {0x7230, 8192}, {0x9230, 8192},
                     {0xB230, 8192}, {0xD230, 8192}, {0xF230, 8191}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "count " << int(c.count) << " length " << c.length);
    restart();
    clear_record();
    std::vector<uint8_t> back(c.length);
    EXPECT_EQ(g0e_read_with_list(0x1230, back.data(), c.length, addresses.data(), values.data(), c.count), c.length);
    expect_sent(commands(), 0x0E, 0x13, c.sent);
    ASSERT_EQ(calls().size(), 2 * c.sent.size());
    EXPECT_EQ(calls().back().length, std::max<uint32_t>(c.sent.back().length, 1024));
    // The command file holds the last request: it carries the list too.
    const std::vector<uint8_t> s = sector(0);
    EXPECT_EQ(s[4] | s[5] << 8, c.sent.back().address);
    EXPECT_EQ(s[3], c.sent_count);
    std::vector<uint8_t> list(s.begin() + 12, s.begin() + 510);
    for (size_t i = 0; i < c.sent_count; ++i) {
      EXPECT_EQ(list[4 * i], addresses[i] & 0xFF) << i;
      EXPECT_EQ(list[4 * i + 1], addresses[i] >> 8) << i;
      EXPECT_EQ(list[4 * i + 2], values[i]) << i;
      EXPECT_EQ(list[4 * i + 3], 0) << i;
    }
    EXPECT_TRUE(std::all_of(list.begin() + 4 * c.sent_count, list.end(), [](uint8_t b) { return b == 0; }));
    if (c.count == 2) {
      EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 4), (std::vector<uint8_t>{0x5A, 0x0E, 0x13, 0x02}));
      EXPECT_EQ(std::vector<uint8_t>(s.begin() + 12, s.begin() + 20),
                (std::vector<uint8_t>{0x34, 0x12, 0xAB, 0x00, 0x78, 0x56, 0xCD, 0x00}));
      // The model writes the entries before it reads: the first lands inside the range.
      EXPECT_EQ(back[0x1234 - 0x1230], 0xAB);
    }
  }
}

using ScrambledWrite = int (*)(uint16_t, const uint8_t*, uint16_t);
using RangedRead = uint32_t (*)(uint16_t, uint8_t*, uint16_t);

struct ScrambledCase {
  const char* name;
  ScrambledWrite write;
  uint8_t command;
  RangedRead read;
};

const ScrambledCase kScrambled[] = {
    {"09", g0e_write_scrambled_09, 0x09, g0e_read_04},
    {"0a", g0e_write_scrambled_0a, 0x0A, g0e_read_07},
};

TEST_F(Group0e, AThreeByteScrambledWriteScramblesEightBytes) {
  const std::array<uint8_t, 3> data{0xC1, 0xC2, 0xC3};
  const std::array<uint8_t, 8> head{0xC1, 0xC2, 0xC3, 0, 0, 0, 0, 0};
  for (const ScrambledCase& w : kScrambled) {
    SCOPED_TRACE(w.name);
    struct Mode {
      const char* name;
      uint8_t mode;
      std::array<uint8_t, 8> key;
      std::array<uint8_t, 8> expected;
    };
    std::array<uint8_t, 8> xored = head;
    for (size_t k = 0; k < 8; ++k) xored[k] ^= kXorKey[k];
    std::array<uint8_t, 8> encrypted = head;
    const std::array<uint8_t, 8> cipher_key{9, 8, 7, 6, 5, 4, 3, 2};
    cipher_set_key8(cipher_key.data());
    cipher_encrypt_buffer(encrypted.data(), 8);
    const Mode modes[] = {
        {"xor with a zero key: unchanged", 1, {}, head},
        {"xor", 1, kXorKey, xored},
        {"blowfish", 0, {}, encrypted},
    };
    for (const Mode& m : modes) {
      SCOPED_TRACE(m.name);
      xor_mode = m.mode;
      xor_key = m.key;
      clear_record();
      w.write(0x4000, data.data(), 3);
      ASSERT_EQ(sector_count(), 1u);
      const std::vector<uint8_t> s = sector(0);
      EXPECT_EQ(s[2], w.command);
      EXPECT_EQ(s[8], 3);
      EXPECT_TRUE(std::equal(m.expected.begin(), m.expected.end(), s.begin() + 12));
      EXPECT_TRUE(std::all_of(s.begin() + 20, s.begin() + 510, [](uint8_t b) { return b == 0; }));
    }
  }
}

TEST_F(Group0e, ScrambledWritesRoundTripThroughTheDevice) {
  struct DeviceKind {
    const char* name;
    std::string device_name;
  };
  const DeviceKind devices[] = {{"blowfish", "NES CARTSIM"}, {"xor", "CARTSIM"}};
  const std::vector<uint8_t> data = random_bytes(1500, 5);
  for (const DeviceKind& d : devices) {
    for (const ScrambledCase& w : kScrambled) {
      SCOPED_TRACE(testing::Message() << d.name << " " << w.name);
      reset_scrambling_state();
      config.name = d.device_name;
      restart();
      g0e_init_scrambling();
      clear_record();
      w.write(0xFE00, data.data(), 1500);
      expect_sent(commands(), 0x0E, w.command, {{0xFE00, 498}, {0xFFF2, 498}, {0x01E4, 498}, {0x03D6, 6}});
      for (size_t k = 0; k < 4; ++k) {
        const std::vector<uint8_t> s = sector(k);
        const size_t n = k < 3 ? 498 : 6;
        const size_t head = std::min<size_t>(n, 8);
        EXPECT_FALSE(std::equal(s.begin() + 12, s.begin() + 12 + head, data.begin() + 498 * k)) << "head scrambled";
        EXPECT_TRUE(n < 9 || std::equal(s.begin() + 20, s.begin() + 12 + n, data.begin() + 498 * k + 8))
            << "the rest as given";
      }
      std::vector<uint8_t> back(1500);
      w.read(0xFE00, back.data(), 1500);
      EXPECT_EQ(back, data);
    }
  }
}

}  // namespace
}  // namespace cartdump::test

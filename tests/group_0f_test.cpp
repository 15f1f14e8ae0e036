#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "carts/group_0f.h"
#include "tests/support/device_test.h"
#include "tests/support/sector_bytes.h"

namespace cartdump::test {
namespace {

using Writes = std::vector<sim::BusAccess>;

class Group0f : public DeviceTest {
 protected:
  std::vector<uint8_t>& flash() { return device().g0f.memory; }
  // The whole chip as the host reads it.
  std::vector<uint8_t> read_chip() {
    std::vector<uint8_t> chip(sim::kFlashSize);
    EXPECT_EQ(g0f_read(0, chip.data(), sim::kFlashSize), sim::kFlashSize);
    return chip;
  }
  static bool all_erased(const std::vector<uint8_t>& bytes, size_t from, size_t n) {
    return std::all_of(bytes.begin() + from, bytes.begin() + from + n, [](uint8_t b) { return b == 0xFF; });
  }
};

TEST_F(Group0f, SingleSectorCommandLayouts) {
  struct Case {
    const char* what;
    std::function<void()> run;
    std::initializer_list<ByteAt> bytes;
  };
  const Case cases[] = {
      {"init", [] { g0f_init(); }, {{1, 0x0F}, {2, 0x01}}},
      {"write byte: 24-bit address, zero at 6, value at 7",
       [] { g0f_write_byte(0x12345678, 0xAB); },
       {{1, 0x0F}, {2, 0x03}, {3, 0x78}, {4, 0x56}, {5, 0x34}, {7, 0xAB}}},
      {"read byte, layout A", [] { g0f_read_byte(0x12345678); },
       {{1, 0x0F}, {2, 0x02}, {3, 0x78}, {4, 0x56}, {5, 0x34}, {6, 0x01}}},
      {"read byte, layout B", [] { g0f_read_byte_09(0x12345678); },
       {{1, 0x0F}, {2, 0x09}, {4, 0x78}, {5, 0x56}, {6, 0x34}, {7, 0x12}, {8, 0x01}}},
      {"write byte, layout B", [] { g0f_write_byte_0a(0x12345678, 0xCD); },
       {{1, 0x0F}, {2, 0x0A}, {4, 0x78}, {5, 0x56}, {6, 0x34}, {7, 0x12}, {8, 0x01}, {12, 0xCD}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clear_record();
    c.run();
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_EQ(commands()[0].outcome, sim::Outcome::accepted);
    expect_sector(sent_sector(device(), 0), c.bytes);
  }
}

TEST_F(Group0f, SingleByteReadsTakeReplyByteZero) {
  flash()[0x45678] = 0x3C;
  EXPECT_EQ(g0f_read_byte(0x12345678), 0x3C) << "the chip repeats through the address space";
  flash()[0x45679] = 0xC3;
  EXPECT_EQ(g0f_read_byte_09(0x12345679), 0xC3);
  EXPECT_EQ(calls().back().length, 1024u);
  memory_drive_attach(nullptr, root);
  EXPECT_EQ(g0f_read_byte(0), 0);
  EXPECT_EQ(g0f_read_byte_09(0), 0);
}

struct BulkCase {
  const char* what;
  int (*write)(uint32_t, const uint8_t*, uint32_t);
  uint8_t command;
  uint32_t address;
  uint32_t count;
  std::vector<std::pair<std::array<uint8_t, 4>, uint32_t>> sectors;  // address bytes 4-7, length
};

TEST_F(Group0f, BulkWritesCutThePayloadIntoOneBatch) {
  const BulkCase cases[] = {
      {"0x06 sends 24 address bits", g0f_write_06, 0x06, 0x01FFFFF0, 32, {{{0xF0, 0xFF, 0xFF, 0x00}, 32}}},
      {"0x06 in 480-byte chunks", g0f_write_06, 0x06, 0x01FFFF00, 500,
       {{{0x00, 0xFF, 0xFF, 0x00}, 480}, {{0xE0, 0x00, 0x00, 0x00}, 20}}},
      {"0x0A of 498 fills bytes 12-509", g0f_write_0a, 0x0A, 0x00123456, 498, {{{0x56, 0x34, 0x12, 0x00}, 498}}},
      {"0x0A of 499", g0f_write_0a, 0x0A, 0x00123456, 499,
       {{{0x56, 0x34, 0x12, 0x00}, 498}, {{0x48, 0x36, 0x12, 0x00}, 1}}},
      {"0x05 keeps 32 address bits", g0f_write_05, 0x05, 0xA1FFFF00, 961,
       {{{0x00, 0xFF, 0xFF, 0xA1}, 480}, {{0xE0, 0x00, 0x00, 0xA2}, 480}, {{0xC0, 0x02, 0x00, 0xA2}, 1}}},
      {"0x05 of nothing", g0f_write_05, 0x05, 0x100, 0, {}},
  };
  for (const BulkCase& c : cases) {
    SCOPED_TRACE(c.what);
    clear_record();
    const std::vector<uint8_t> data = byte_pattern(c.count, c.command);
    EXPECT_EQ(c.write(c.address, data.data(), c.count), static_cast<int>(c.sectors.size() * 512));
    ASSERT_EQ(calls().size(), 1u) << "one send";
    ASSERT_EQ(commands().size(), c.sectors.size());
    uint32_t offset = 0;
    for (size_t k = 0; k < c.sectors.size(); ++k) {
      const auto& [a, n] = c.sectors[k];
      const std::vector<uint8_t> s = sent_sector(device(), k);
      EXPECT_EQ(s[1], 0x0F);
      EXPECT_EQ(s[2], c.command);
      EXPECT_EQ(s[3], 0);
      EXPECT_EQ((std::array<uint8_t, 4>{s[4], s[5], s[6], s[7]}), a) << "sector " << k;
      EXPECT_EQ((std::array<uint8_t, 4>{s[8], s[9], s[10], s[11]}),
                (std::array<uint8_t, 4>{static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0, 0}));
      expect_payload(s, 12, data.data() + offset, n);
      offset += n;
    }
  }
}

TEST_F(Group0f, RangedReadsOfBothLayouts) {
  struct Case {
    uint32_t (*read)(uint32_t, uint8_t*, uint32_t);
    uint8_t command;
    uint32_t address;
    uint32_t length;
    std::vector<uint32_t> addresses;  // as the device took them
  };
  const Case cases[] = {
      {g0f_read, 0x02, 0xAB0FF000, 10000, {0x0FF000, 0x101000}},
      {g0f_read_09, 0x09, 0x12345678, 10000, {0x12345678, 0x12347678}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    clear_record();
    std::vector<uint8_t> buffer(c.length);
    EXPECT_EQ(c.read(c.address, buffer.data(), c.length), c.length);
    ASSERT_EQ(commands().size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(commands()[k].command, c.command);
      EXPECT_EQ(commands()[k].address, c.addresses[k]);
      EXPECT_EQ(commands()[k].length, k == 0 ? 8192u : 1808u);
    }
    for (uint32_t i = 0; i < c.length; ++i) {
      ASSERT_EQ(buffer[i], device().g0f.at(c.address + i)) << "byte " << i;
    }
  }
}

struct EraseCase {
  const char* what;
  std::function<void()> run;
  Writes steps;
};

const Writes kSetUp = {{0x8AAA, 0xF0}, {0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0x80}, {0x8AAA, 0xAA}, {0x8555, 0x55}};

Writes with_last(sim::BusAccess last) {
  Writes steps = kSetUp;
  steps.push_back(last);
  return steps;
}

TEST_F(Group0f, EraseSequencesSendSevenSingleWrites) {
  const EraseCase cases[] = {
      {"chip", [] { g0f_erase_chip(); }, with_last({0x8AAA, 0x10})},
      {"sector", [] { g0f_erase_sector(0x10000); }, with_last({0x10000, 0x30})},
  };
  for (const EraseCase& c : cases) {
    SCOPED_TRACE(c.what);
    clear_record();
    device().g0f.bus_writes.clear();
    c.run();
    EXPECT_EQ(device().g0f.bus_writes, c.steps);
    ASSERT_EQ(calls().size(), 7u);
    for (const FileCall& call : calls()) {
      EXPECT_TRUE(call.write) << "nothing is read back";
      EXPECT_EQ(call.length, 512u);
    }
    const sim::BusAccess& last = c.steps.back();
    expect_sector(sent_sector(device(), 0), {{1, 0x0F},
                                             {2, 0x03},
                                             {3, static_cast<uint8_t>(last.address)},
                                             {4, static_cast<uint8_t>(last.address >> 8)},
                                             {5, static_cast<uint8_t>(last.address >> 16)},
                                             {7, last.value}});
  }
}

TEST_F(Group0f, ChipEraseLeavesEveryByteErased) {
  const std::vector<uint8_t> before = read_chip();
  ASSERT_FALSE(all_erased(before, 0, before.size()));
  g0f_erase_chip();
  const std::vector<uint8_t> after = read_chip();
  EXPECT_TRUE(all_erased(after, 0, after.size()));
}

TEST_F(Group0f, SectorEraseLeavesTheNeighbours) {
  struct Case {
    uint32_t address;
    uint32_t sector;  // the sector's first byte on the chip
  };
  const Case cases[] = {{0x10000, 0x10000}, {0x2ABCD, 0x20000}, {0xF0000, 0xF0000}, {0x1F0123, 0xF0000}, {0x5, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    device().g0f = sim::FlashChip{};  // a fresh chip
    const std::vector<uint8_t> before = read_chip();
    g0f_erase_sector(c.address);
    const std::vector<uint8_t> after = read_chip();
    EXPECT_TRUE(all_erased(after, c.sector, sim::kFlashSectorSize));
    EXPECT_FALSE(all_erased(before, c.sector, sim::kFlashSectorSize));
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + c.sector, before.begin())) << "sectors below";
    const size_t end = c.sector + sim::kFlashSectorSize;
    EXPECT_TRUE(std::equal(after.begin() + end, after.end(), before.begin() + end)) << "sectors above";
  }
}

TEST_F(Group0f, ABrokenSequenceErasesNothing) {
  const std::vector<Writes> cases = {
      {{0x8AAA, 0xAA}, {0x8555, 0x54}, {0x8AAA, 0x80}, {0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0x10}},
      {{0x8AAA, 0xAA}, {0x8556, 0x55}, {0x8AAA, 0x80}, {0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0x10}},
      {{0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0x10}},  // no set-up
      {{0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0x80}, {0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAB, 0x10}},
      {{0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0x80}, {0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0xF0},
       {0x20000, 0x30}},  // reset before the erase code
      {{0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0x80}, {0x8AAA, 0xAA}, {0x8555, 0x55}, {0x3, 0x10}},
      {{0x20000, 0x30}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    device().g0f = sim::FlashChip{};  // a fresh chip
    const std::vector<uint8_t> before = flash();
    for (const sim::BusAccess& w : cases[i]) {
      g0f_write_byte(w.address, w.value);
    }
    EXPECT_EQ(flash(), before);
    EXPECT_EQ(device().g0f.cycle, sim::FlashCycle::reading);
  }
}

TEST_F(Group0f, WrittenBytesReadBackAfterAnErase) {
  g0f_erase_sector(0x30000);
  const std::vector<uint8_t> data = byte_pattern(1000, 7);
  g0f_write_0a(0x30010, data.data(), 1000);
  std::vector<uint8_t> back(1000);
  g0f_read_09(0x30010, back.data(), 1000);
  EXPECT_EQ(back, data);

  g0f_write_05(0x30400, data.data(), 1000);
  g0f_read(0x30400, back.data(), 1000);
  EXPECT_EQ(back, data);

  // A byte program through the chip's own command cycles.
  for (const sim::BusAccess& w : Writes{{0x8AAA, 0xAA}, {0x8555, 0x55}, {0x8AAA, 0xA0}, {0x30800, 0x5A}}) {
    g0f_write_byte(w.address, w.value);
  }
  EXPECT_EQ(g0f_read_byte(0x30800), 0x5A);
}

}  // namespace
}  // namespace cartdump::test

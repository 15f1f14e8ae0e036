#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "carts/flash_id.h"
#include "carts/group_07.h"
#include "tests/support/device_test.h"
#include "tests/support/sector_bytes.h"

namespace cartdump::test {
namespace {

class Group07 : public DeviceTest {};

std::vector<uint8_t> chip_bytes(uint32_t address, uint32_t length) {
  std::vector<uint8_t> bytes(length);
  for (uint32_t i = 0; i < length; ++i) {
    bytes[i] = sim::cfi_chip_byte(address + i);
  }
  return bytes;
}

TEST_F(Group07, InitAndSingleByteRead) {
  EXPECT_EQ(g07_init(), 512);
  expect_sector(sent_sector(device(), 0), {{1, 0x07}, {2, 0x01}});
  EXPECT_TRUE(device().g07.ready);

  clear_record();
  EXPECT_EQ(g07_read_byte(0xAB000003), sim::cfi_chip_byte(3));
  expect_sector(sent_sector(device(), 0), {{1, 0x07}, {2, 0x02}, {3, 0x03}, {6, 0x01}});
  ASSERT_EQ(calls().size(), 2u);
  EXPECT_EQ(calls()[1].length, 1024u) << "the reply is read as one 1024-byte block";

  memory_drive_attach(nullptr, root);
  EXPECT_EQ(g07_read_byte(0x100), 0) << "no reply file";
}

struct ReadCase {
  uint32_t address;
  uint32_t length;
  std::vector<std::pair<uint32_t, uint32_t>> requests;  // (24-bit address, chunk)
};

TEST_F(Group07, ReadSendsOneRequestPer8192Bytes) {
  const ReadCase cases[] = {
      {0x010000, 20000, {{0x010000, 8192}, {0x012000, 8192}, {0x014000, 3616}}},
      {0x010000, 0, {}},
      {0x77FFFFF0, 8200, {{0xFFFFF0, 8192}, {0x001FF0, 8}}},  // bits 24-31 dropped, wraps at 2^24
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.length);
    clear_record();
    std::vector<uint8_t> buffer(c.length + 1, 0xEE);
    EXPECT_EQ(g07_read(c.address, buffer.data(), c.length), c.length);
    ASSERT_EQ(commands().size(), c.requests.size());
    ASSERT_EQ(calls().size(), 2 * c.requests.size());
    uint32_t offset = 0;
    for (size_t k = 0; k < c.requests.size(); ++k) {
      EXPECT_EQ(commands()[k].command, 0x02);
      EXPECT_EQ(commands()[k].address, c.requests[k].first);
      EXPECT_EQ(commands()[k].length, c.requests[k].second);
      EXPECT_TRUE(calls()[2 * k].write);
      EXPECT_FALSE(calls()[2 * k + 1].write) << "the reply read follows its request";
      EXPECT_EQ(calls()[2 * k + 1].length, std::max(c.requests[k].second, 1024u));
      const std::vector<uint8_t> expected = chip_bytes(c.requests[k].first, c.requests[k].second);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin() + offset)) << "request " << k;
      offset += c.requests[k].second;
    }
    EXPECT_EQ(buffer.back(), 0xEE) << "nothing past the range";
  }
  // The last request's sector: address at 3-5, chunk at 6-7, nothing else.
  expect_sector(sent_sector(device(), 0), {{1, 0x07}, {2, 0x02}, {3, 0xF0}, {4, 0x1F}, {6, 0x08}});
}

TEST_F(Group07, TheChipIdentifiesItselfThroughTheQueryBlock) {
  std::vector<uint8_t> query(kCfiQueryBlockSize);
  g07_read(0, query.data(), kCfiQueryBlockSize);
  EXPECT_EQ(cfi_device_size_be(query.data()), 0x800000u) << "64 Mbit, words high byte first";
  EXPECT_EQ(cfi_device_size_le(query.data()), 0u);
  EXPECT_TRUE(flash_id_is_known(query.data())) << "identification in bytes 0-3";
}

}  // namespace
}  // namespace cartdump::test

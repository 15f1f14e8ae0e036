#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "carts/group_10.h"
#include "link/file_io.h"
#include "link/sector.h"
#include "tests/support/device_test.h"
#include "tests/support/sector_bytes.h"

namespace cartdump::test {
namespace {

class N64Group : public DeviceTest {
 protected:
  void configure(sim::DeviceConfig& device_config) override { device_config.rom = byte_pattern(64 * 1024); }
  std::vector<uint8_t> sector(size_t k) { return sent_sector(device(), k); }
};

TEST_F(N64Group, InitSendsTheFramedPreparationCommand) {
  EXPECT_EQ(n64_init(), 512);
  std::vector<uint8_t> expected(512, 0);
  expected[0] = 0x5A;
  expected[1] = 0x10;
  expected[2] = 0x01;
  expected[510] = 0xB3;
  expected[511] = 0x7F;
  EXPECT_EQ(device().command_file, expected);
  EXPECT_TRUE(device().g10.ready);
}

TEST_F(N64Group, HeaderReadSendsOneSectorAndReadsItsReply) {
  std::vector<uint8_t> buffer(1024, 0xEE);
  EXPECT_EQ(n64_read(kN64RomBase, buffer.data(), 1024), 1024u);
  const std::vector<uint8_t> s = sector(0);
  const std::vector<uint8_t> head = {0x5A, 0x10, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04};
  EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 9), head);
  EXPECT_EQ(std::count(s.begin() + 9, s.begin() + 510, 0), 501);
  EXPECT_EQ(s[510], 0x5E);
  EXPECT_EQ(s[511], 0x7B);
  ASSERT_EQ(calls().size(), 2u);
  EXPECT_TRUE(calls()[0].write);
  EXPECT_FALSE(calls()[1].write);
  EXPECT_EQ(calls()[1].offset, 0u);
  EXPECT_EQ(calls()[1].length, 1024u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(config.rom.begin(), config.rom.begin() + 1024));
}

TEST_F(N64Group, ReadSplitsIntoRequestsOfAtMost8192) {
  const uint32_t a = kN64RomBase + 0x100;
  std::vector<uint8_t> buffer(10000, 0);
  EXPECT_EQ(n64_read(a, buffer.data(), 10000), 10000u);
  ASSERT_EQ(commands().size(), 2u);
  EXPECT_EQ(commands()[0].address, a);
  EXPECT_EQ(commands()[0].length, 8192u);
  EXPECT_EQ(commands()[1].address, a + 8192);
  EXPECT_EQ(commands()[1].length, 1808u);
  // Each request is followed at once by its reply read, straight into its place.
  ASSERT_EQ(calls().size(), 4u);
  const bool writes[] = {true, false, true, false};
  const uint32_t lengths[] = {512, 8192, 512, 1808};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(calls()[i].write, writes[i]) << i;
    EXPECT_EQ(calls()[i].length, lengths[i]) << i;
  }
  EXPECT_EQ(buffer, std::vector<uint8_t>(config.rom.begin() + 0x100, config.rom.begin() + 0x100 + 10000));
}

TEST_F(N64Group, ReadOfNothingSendsNothing) {
  uint8_t byte = 0xEE;
  EXPECT_EQ(n64_read(kN64RomBase, &byte, 0), 0u);
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(byte, 0xEE);
}

TEST_F(N64Group, ReadWithoutAReplyFile) {
  memory_drive_attach(nullptr, root);
  std::vector<uint8_t> header(1024, 0xEE);
  EXPECT_EQ(n64_read(kN64RomBase, header.data(), 1024), 0u);
  EXPECT_EQ(header, std::vector<uint8_t>(1024, 0)) << "up to 1024 bytes arrive as zeros";
  std::vector<uint8_t> chunk(8192, 0xEE);
  EXPECT_EQ(n64_read(kN64RomBase, chunk.data(), 8192), 0u);
  EXPECT_EQ(chunk, std::vector<uint8_t>(8192, 0xEE)) << "a chunk is left as it was";
  EXPECT_EQ(n64_read_word(kN64RomBase), 0);
}

// A command that did not reach the device leaves an earlier reply in the reply file: none is taken.
TEST_F(N64Group, ARequestWhoseCommandWasNotWrittenTakesNoReply) {
  std::vector<uint8_t> buffer(10000, 0xEE);
  ASSERT_EQ(n64_read(kN64RomBase, buffer.data(), 8192), 8192u);  // a reply the device left in place
  clear_record();
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  memory_drive().write_limits = {100};
  EXPECT_EQ(n64_read(kN64RomBase + 0x2000, buffer.data(), 8192), 0u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(10000, 0xEE)) << "the earlier reply is not taken";
  ASSERT_EQ(calls().size(), 1u) << "no reply read after the failed send";
  EXPECT_TRUE(calls()[0].write);
  EXPECT_EQ(std::string(file_error_text()), "cannot write E:\\CMD.CMD: Read-only file system");

  // In a range, the requests before the failed one deliver; none after it is sent.
  clear_record();
  memory_drive().write_limits = {512, 0};
  EXPECT_EQ(n64_read(kN64RomBase + 0x100, buffer.data(), 20000), 8192u);
  ASSERT_EQ(calls().size(), 3u);
  EXPECT_TRUE(calls()[2].write);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 8192, config.rom.begin() + 0x100));
  EXPECT_EQ(buffer[8192], 0xEE);
}

struct WriteCase {
  uint32_t count;
  std::vector<uint32_t> lengths;  // per sector, the addresses following from them
};

TEST_F(N64Group, WriteCutsThePayloadInto500ByteSectorsSentInOneCall) {
  const WriteCase cases[] = {{1000, {500, 500}}, {1001, {500, 500, 1}}, {0, {}}, {500, {500}}};
  const uint32_t a = kN64RomBase + 0x40;
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.count);
    clear_record();
    const std::vector<uint8_t> data = byte_pattern(c.count + 7);
    n64_write(a, data.data() + 7, c.count);
    ASSERT_EQ(calls().size(), 1u) << "one write of the command file";
    EXPECT_EQ(calls()[0].length, c.lengths.size() * 512);
    ASSERT_EQ(commands().size(), c.lengths.size());
    uint32_t offset = 0;
    for (size_t k = 0; k < c.lengths.size(); ++k) {
      EXPECT_EQ(commands()[k].command, 0x04);
      EXPECT_EQ(commands()[k].address, a + offset);
      EXPECT_EQ(commands()[k].length, c.lengths[k]);
      const std::vector<uint8_t> s = sector(k);
      EXPECT_TRUE(std::equal(s.begin() + 9, s.begin() + 9 + c.lengths[k], data.begin() + 7 + offset));
      EXPECT_TRUE(std::all_of(s.begin() + 9 + c.lengths[k], s.begin() + 510, [](uint8_t b) { return b == 0; }));
      offset += c.lengths[k];
    }
    EXPECT_TRUE(std::equal(data.begin() + 7, data.end(), device().g10.rom.begin() + 0x40));
  }
}

TEST_F(N64Group, WordsTravelLowByteFirst) {
  EXPECT_EQ(n64_write_word(kN64RomBase + 2, 0x1234), 512);
  const std::vector<uint8_t> s = sector(0);
  EXPECT_EQ(s[7], 0x01);
  EXPECT_EQ(s[8], 0x00);
  EXPECT_EQ(s[9], 0x34);
  EXPECT_EQ(s[10], 0x12);
  EXPECT_EQ(device().g10.rom[2], 0x34);
  EXPECT_EQ(device().g10.rom[3], 0x12);

  EXPECT_EQ(n64_read_word(kN64RomBase + 2), 0x1234);
  EXPECT_EQ(commands().back().length, 1u);
  EXPECT_EQ(calls().back().length, 1024u) << "a 512-byte reply is one 1024-byte read";
}

TEST_F(N64Group, AddressCommandCarriesAll32Bits) {
  EXPECT_EQ(n64_address_command(0xA1B2C3D4), 512);
  const std::vector<uint8_t> s = sector(0);
  EXPECT_EQ(s[2], 0x02);
  EXPECT_EQ(s[3], 0xD4);
  EXPECT_EQ(s[6], 0xA1);
  EXPECT_EQ(device().g10.last_address, 0xA1B2C3D4u);
}

TEST_F(N64Group, SectorsDependOnlyOnTheArguments) {
  std::vector<uint8_t> buffer(3000);
  n64_read(kN64RomBase + 5, buffer.data(), 3000);
  const std::vector<uint8_t> first = device().command_file;
  n64_write_word(kN64RomBase, 0xFFFF);
  n64_read(kN64RomBase + 5, buffer.data(), 3000);
  EXPECT_EQ(device().command_file, first);
}

}  // namespace
}  // namespace cartdump::test

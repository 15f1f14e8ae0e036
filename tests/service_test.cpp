// The device service commands on both links: the HID forms over the fake host side playing the
// model's HID face, the drive forms over the in-memory drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "link/device_state.h"
#include "link/hid_link.h"
#include "link/sector.h"
#include "link/service.h"
#include "tests/support/device_test.h"
#include "tests/support/fake_hid.h"
#include "tests/support/sector_bytes.h"

namespace cartdump::test {
namespace {

uint32_t le(const uint8_t* bytes, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return value;
}

class Service : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    fake_hid_reset();
    fake_hid().interfaces = {{.path = "hid-0", .device = &device()}};
    ASSERT_EQ(hid_open_devices(1, 0x0483, 0x5750, -1, -1), 1);
  }
  void TearDown() override {
    fake_hid_reset();
    DeviceTest::TearDown();
  }

  void use_hid() { device_state.hid_mode = 1; }
  void use_drive() { device_state.hid_mode = 0; }
  const std::vector<FakeTransferRecord>& transfers() { return fake_hid().transfers; }
  // The payload of the k-th HID write (the report id left out).
  std::vector<uint8_t> written(size_t k) {
    std::vector<const FakeTransferRecord*> writes;
    for (const FakeTransferRecord& t : transfers())
      if (t.direction == HidDirection::write) writes.push_back(&t);
    return {writes.at(k)->report.begin() + 1, writes.at(k)->report.end()};
  }
  std::vector<uint8_t> sector(size_t k) {
    const auto& file = device().command_file;
    return {file.begin() + k * kSectorSize, file.begin() + (k + 1) * kSectorSize};
  }
  std::vector<HidDirection> directions() {
    std::vector<HidDirection> d;
    for (const FakeTransferRecord& t : transfers()) d.push_back(t.direction);
    return d;
  }
};

constexpr HidDirection W = HidDirection::write;
constexpr HidDirection R = HidDirection::read;

TEST_F(Service, RebootOnTheHidLink) {
  for (uint8_t flag : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(flag));
    restart();
    fake_hid().interfaces[0].device = &device();
    fake_hid().transfers.clear();
    use_hid();
    EXPECT_EQ(dev_reboot(flag), 1);
    EXPECT_EQ(directions(), std::vector<HidDirection>{W}) << "no reply is read";
    std::vector<uint8_t> expected(64, 0);
    expected[0] = 0x14;
    if (flag != 0) {
      expected[4] = 0x54;
      expected[5] = 0x4F;
      expected[6] = 0x4F;
      expected[7] = 0x42;
    }
    EXPECT_EQ(written(0), expected);
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(device().service.reboots, 1u);
    EXPECT_EQ(device().config.boot, flag != 0);
  }
}

TEST_F(Service, RebootOnTheDriveLinkSendsTheSectorTwice) {
  for (uint8_t flag : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(flag));
    restart();
    clear_record();
    use_drive();
    EXPECT_EQ(dev_reboot(flag), 512);
    ASSERT_EQ(calls().size(), 2u) << "two single-sector sends";
    ASSERT_EQ(commands().size(), 2u);
    EXPECT_EQ(commands()[0].command, 0x07);
    EXPECT_EQ(commands()[1].command, 0xFF);
    for (const sim::SectorRecord& r : commands()) {
      EXPECT_EQ(r.address, flag * 0x0101u) << "the flag at bytes 3 and 4";
    }
    const std::vector<uint8_t> second = sector(0);  // the command file holds the last send
    const std::vector<uint8_t> head = {0x5A, 0xF0, 0xFF, flag, flag};
    EXPECT_EQ(std::vector<uint8_t>(second.begin(), second.begin() + 5), head);
    EXPECT_TRUE(std::all_of(second.begin() + 5, second.begin() + 510, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(device().service.reboots, 1u);
  }
}

TEST_F(Service, RebootIntoBootModeShowsInTheName) {
  use_drive();
  dev_reboot(1);
  const std::string shown(reinterpret_cast<const char*>(device().reply_file.data() + 8192));
  EXPECT_EQ(shown, "BOOT" + config.name);
  use_hid();
  std::array<uint8_t, 64> report{};
  std::array<uint8_t, 64> reply{};
  dev_exchange(0x11, report.data(), reply.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), "BOOT" + config.name);
  dev_reboot(0);
  dev_exchange(0x11, report.data(), reply.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), config.name);
}

TEST_F(Service, AddressesCarry24BitsOverHidAnd32OverTheDrive) {
  const uint32_t address = 0xA1B2C3D4;
  use_hid();
  EXPECT_EQ(dev_address_command(address), 1);
  EXPECT_EQ(directions(), (std::vector<HidDirection>{W, R}));
  const std::vector<uint8_t> report = written(0);
  EXPECT_EQ(report[0], 0x17);
  EXPECT_EQ(le(report.data() + 1, 3), 0xB2C3D4u);
  EXPECT_TRUE(std::all_of(report.begin() + 4, report.end(), [](uint8_t b) { return b == 0; }));

  use_drive();
  EXPECT_EQ(dev_address_command(address), 512);
  const std::vector<uint8_t> s = sector(0);
  EXPECT_EQ(s[1], 0xF0);
  EXPECT_EQ(s[2], 0xE0);
  EXPECT_EQ(le(s.data() + 3, 4), address);
  EXPECT_EQ(device().service.address_commands, (std::vector<uint32_t>{0xB2C3D4, address}));
}

TEST_F(Service, WriteBlockThenReadValueRoundTripsOnBothLinks) {
  const std::vector<uint8_t> data = byte_pattern(100);
  struct Case {
    const char* what;
    uint8_t hid_mode;
    uint32_t address;
    uint32_t expected;  // the value read back at address + 8
  };
  const Case cases[] = {
      {"HID: 32 bits", 1, 0x123400, le(data.data() + 8, 4)},
      {"drive: the low 16 bits", 0, 0x20000000, le(data.data() + 8, 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device_state.hid_mode = c.hid_mode;
    dev_write_block(c.address, data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(dev_read_value(c.address + 8), c.expected);
  }
  use_drive();
  memory_drive_unplug(true);
  EXPECT_EQ(dev_read_value(0x20000000), 0u) << "no reply: 0";
}

TEST_F(Service, ReadValueOverHidSendsTheLow24Bits) {
  use_hid();
  device().service.memory[0x00FFFFF0] = 0x5A;
  EXPECT_EQ(dev_read_value(0x7FFFFFF0), 0x5Au);
  const std::vector<uint8_t> report = written(0);
  EXPECT_EQ(report[0], 0x16);
  EXPECT_EQ(le(report.data() + 1, 3), 0xFFFFF0u);
  EXPECT_EQ(directions(), (std::vector<HidDirection>{W, R}));
  // No answer: 0.
  fake_hid().coming = {FakeTransfer::normal, FakeTransfer::time_out};
  EXPECT_EQ(dev_read_value(0x00FFFFF0), 0u);
}

TEST_F(Service, HidBlockWritesGoIn56ByteChunks) {
  use_hid();
  const std::vector<uint8_t> data = byte_pattern(100);
  const uint32_t address = 0x01002000;
  EXPECT_EQ(dev_write_block(address, data.data(), 100), 1);
  EXPECT_EQ(directions(), (std::vector<HidDirection>{W, R, W, R})) << "each chunk followed by a reply read";
  const std::vector<uint8_t> first = written(0);
  const std::vector<uint8_t> second = written(1);
  EXPECT_EQ(first[0], 0x19);
  EXPECT_EQ(le(first.data() + 1, 3), 0x002000u);
  EXPECT_EQ(le(first.data() + 4, 2), 56u);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 56, first.begin() + 6));
  EXPECT_EQ(le(second.data() + 1, 3), 0x002000u + 56);
  EXPECT_EQ(le(second.data() + 4, 2), 44u);
  EXPECT_TRUE(std::equal(data.begin() + 56, data.end(), second.begin() + 6));
  // The report is not cleared between chunks: behind the short chunk the first chunk's data stays.
  EXPECT_TRUE(std::equal(data.begin() + 44, data.begin() + 56, second.begin() + 50));
  EXPECT_EQ(second[62], 0);
  EXPECT_EQ(second[63], 0);
  EXPECT_EQ(device().service.memory.size(), 100u);
  EXPECT_EQ(device().service.memory[0x002000 + 99], data[99]);

  fake_hid().transfers.clear();
  EXPECT_EQ(dev_write_block(address, data.data(), 0), 1);
  EXPECT_TRUE(transfers().empty()) << "0 bytes send nothing";

  EXPECT_EQ(dev_write_block_18(address, data.data(), 10), 1);
  EXPECT_EQ(written(0)[0], 0x18);
  EXPECT_EQ(le(written(0).data() + 4, 2), 10u);
}

TEST_F(Service, DriveBlockWritesGoIn256ByteSectorsInOneSend) {
  use_drive();
  struct Case {
    uint32_t count;
    std::vector<uint32_t> lengths;  // per sector
  };
  const Case cases[] = {
      {300, {256, 44}},
      {512, {256, 256}},
      {10, {10}},
      {0, {}},
  };
  const uint32_t address = 0x80001000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    clear_record();
    const std::vector<uint8_t> data = byte_pattern(c.count);
    const int sent = static_cast<int>(c.lengths.size() * kSectorSize);
    EXPECT_EQ(dev_write_block(address, data.data(), c.count), sent);
    ASSERT_EQ(calls().size(), 1u) << "one send";
    EXPECT_EQ(calls()[0].length, static_cast<uint32_t>(sent));
    ASSERT_EQ(commands().size(), c.lengths.size());
    uint32_t offset = 0;
    for (size_t k = 0; k < c.lengths.size(); ++k) {
      const std::vector<uint8_t> s = sector(k);
      EXPECT_EQ(s[1], 0xF0);
      EXPECT_EQ(s[2], 0xE4);
      EXPECT_EQ(le(s.data() + 3, 4), address + offset);
      EXPECT_EQ(le(s.data() + 7, 2), c.lengths[k]);
      EXPECT_EQ(le(s.data() + 9, 3), 0u);
      EXPECT_TRUE(std::equal(data.begin() + offset, data.begin() + offset + c.lengths[k], s.begin() + 12));
      EXPECT_TRUE(std::all_of(s.begin() + 12 + c.lengths[k], s.begin() + 510, [](uint8_t b) { return b == 0; }));
      offset += c.lengths[k];
    }
    EXPECT_TRUE(transfers().empty());
  }
}

TEST_F(Service, Command0AAlwaysGoesOverTheDrive) {
  for (uint8_t mode : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(mode));
    device_state.hid_mode = mode;
    clear_record();
    EXPECT_EQ(dev_command_0a(), 512);
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_EQ(commands()[0].group, 0xF0);
    EXPECT_EQ(commands()[0].command, 0x0A);
    EXPECT_TRUE(std::all_of(device().command_file.begin() + 3, device().command_file.begin() + 510,
                            [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(transfers().empty());
  }
  EXPECT_EQ(device().service.commands_0a, 2u);
}

TEST_F(Service, InformationQueriesAndTheGenericExchange) {
  struct Query {
    void (*query)(uint8_t*);
    uint8_t opcode;
  };
  const Query queries[] = {{dev_query_12, 0x12}, {dev_query_13, 0x13}, {dev_query_15, 0x15}};
  for (const Query& q : queries) {
    SCOPED_TRACE(static_cast<int>(q.opcode));
    fake_hid().transfers.clear();
    std::array<uint8_t, 64> reply;
    reply.fill(0xCC);
    q.query(reply.data());
    EXPECT_EQ(written(0), (std::vector<uint8_t>{q.opcode, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                 0,        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                 0,        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                 0,        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(reply[0], q.opcode) << "the device's answer";
    EXPECT_GT(std::string(reinterpret_cast<const char*>(reply.data() + 1)).size(), 0u);
  }

  fake_hid().transfers.clear();
  std::array<uint8_t, 64> report{};
  report[1] = 0x56;
  report[2] = 0x34;
  report[3] = 0x12;
  std::array<uint8_t, 64> reply{};
  device().service.memory[0x123456] = 0x99;
  dev_exchange(0x16, report.data(), reply.data());
  EXPECT_EQ(report[0], 0x16) << "the opcode stays in the caller's report";
  EXPECT_EQ(written(0), std::vector<uint8_t>(report.begin(), report.end()));
  EXPECT_EQ(reply[0], 0x99);
}

}  // namespace
}  // namespace cartdump::test

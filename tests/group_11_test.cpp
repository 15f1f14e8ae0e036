#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "carts/group_11.h"
#include "tests/support/device_test.h"
#include "tests/support/sector_bytes.h"

namespace cartdump::test {
namespace {

class Group11 : public DeviceTest {
 protected:
  // The dump file tells every offset apart.
  void fill_dump_file() {
    auto& dump = device().dump_file;
    for (size_t i = 0; i < dump.size(); ++i) {
      dump[i] = static_cast<uint8_t>(i ^ (i >> 8) ^ (i >> 16));
    }
  }
};

TEST_F(Group11, InitAndByteWrite) {
  EXPECT_EQ(g11_init(), 512);
  expect_sector(sent_sector(device(), 0), {{1, 0x11}, {2, 0x01}});
  EXPECT_TRUE(device().g11.ready);

  EXPECT_EQ(g11_write_byte(0x12345678, 0xAB), 512);
  expect_sector(sent_sector(device(), 0), {{1, 0x11}, {2, 0x02}, {3, 0x78}, {4, 0x56}, {5, 0x34}, {6, 0xAB}});
  EXPECT_EQ(device().dump_file[0x345678], 0xAB) << "the write shows in the dump file at its 24-bit address";
}

TEST_F(Group11, WriteSpendsOneSectorPerByteInOneSend) {
  struct Case {
    uint32_t address;
    std::vector<uint8_t> data;
    std::vector<std::array<uint8_t, 3>> address_bytes;
  };
  const Case cases[] = {
      {0xFFFFFF, {0x11, 0x22, 0x33}, {{0xFF, 0xFF, 0xFF}, {0x00, 0x00, 0x00}, {0x01, 0x00, 0x00}}},
      {0x0100FE, {0xA0, 0x00}, {{0xFE, 0x00, 0x01}, {0xFF, 0x00, 0x01}}},
      {0x10, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    clear_record();
    const auto count = static_cast<uint32_t>(c.data.size());
    EXPECT_EQ(g11_write(c.address, c.data.data(), count), static_cast<int>(count * 512));
    ASSERT_EQ(calls().size(), 1u) << "one write of the command file, also for no bytes";
    EXPECT_EQ(calls()[0].length, count * 512);
    ASSERT_EQ(commands().size(), c.data.size());
    for (size_t i = 0; i < c.data.size(); ++i) {
      const auto& a = c.address_bytes[i];
      expect_sector(sent_sector(device(), i),
                    {{1, 0x11}, {2, 0x02}, {3, a[0]}, {4, a[1]}, {5, a[2]}, {6, c.data[i]}});
    }
  }
}

TEST_F(Group11, WriteThatWouldPass2GiBSendsNothing) {
  const uint8_t byte = 0x5A;
  // 0x400000 sectors of 512 bytes are 2 GiB; the source is never read.
  for (const uint32_t count : {0x400000u, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(count);
    EXPECT_EQ(g11_write(0, &byte, count), 0);
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(commands().empty());
  }
}

TEST_F(Group11, ByteReadTakesTheAddressBlockOfTheDumpFile) {
  fill_dump_file();
  struct Case {
    uint32_t address;
    uint32_t block;
    uint32_t byte;
  };
  const Case cases[] = {{0x0407FF, 0x040400, 0x3FF}, {0x01000005, 0, 5}, {0xFFFFFF, 0xFFFC00, 0x3FF}, {0x400, 0x400, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    clear_record();
    EXPECT_EQ(g11_read_byte(c.address), device().dump_file[c.block + c.byte]);
    EXPECT_TRUE(commands().empty()) << "no command is sent";
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].path, "E:\\DUMP.ROM");
    EXPECT_EQ(calls()[0].offset, c.block);
    EXPECT_EQ(calls()[0].length, 1024u);
  }
  memory_drive_attach(nullptr, root);
  EXPECT_EQ(g11_read_byte(0x0407FF), 0) << "no dump file";
}

TEST_F(Group11, RangeReadUsesTheAddressAsTheOffset) {
  fill_dump_file();
  struct Case {
    uint32_t address;
    uint32_t length;
    uint32_t read_length;  // what the dump file is asked for
    uint32_t delivered;
  };
  const Case cases[] = {
      {0x0200, 16, 1024, 16},
      {0x0200, 1024, 1024, 1024},
      {0x0201, 5000, 5000, 5000},
      {0x00FFFFF8, 16, 1024, 8},   // the dump file ends 8 bytes on: the rest arrives as zeros
      {0x01000000, 16, 1024, 0},   // all 32 bits are the offset: past the 16 MiB dump file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    SCOPED_TRACE(c.length);
    clear_record();
    std::vector<uint8_t> buffer(c.length + 4, 0xEE);
    EXPECT_EQ(g11_read(c.address, buffer.data(), c.length), c.delivered);
    EXPECT_TRUE(commands().empty());
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].offset, c.address);
    EXPECT_EQ(calls()[0].length, c.read_length);
    for (uint32_t i = 0; i < c.length; ++i) {
      const uint8_t expected = i < c.delivered ? device().dump_file[c.address + i] : 0;
      ASSERT_EQ(buffer[i], expected) << "byte " << i;
    }
    EXPECT_EQ(buffer[c.length], 0xEE) << "nothing past the range";
  }
}

TEST_F(Group11, WrittenBytesReadBackFromTheDumpFile) {
  std::vector<uint8_t> data(1500);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(i * 37 + 1);
  }
  g11_write(0x0203F0, data.data(), static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> back(data.size());
  EXPECT_EQ(g11_read(0x0203F0, back.data(), static_cast<uint32_t>(back.size())), data.size());
  EXPECT_EQ(back, data);
  EXPECT_EQ(g11_read_byte(0x0203F0 + 700), data[700]);
  std::vector<uint8_t> few(10);
  g11_read(0x0203F0 + 1490, few.data(), 10);
  EXPECT_TRUE(std::equal(few.begin(), few.end(), data.end() - 10));
}

TEST_F(Group11, FixedSequencesSendEachStepAlone) {
  using Writes = std::vector<sim::BusAccess>;
  struct Case {
    const char* name;
    void (*run)();
    Writes steps;
  };
  const Case cases[] = {
      {"a", g11_sequence_a,
       {{0x0D0000, 0x68}, {0x0F0000, 0x00}, {0x0F0000, 0x73}, {0x0F0000, 0x73}, {0x0F0000, 0x73}}},
      {"b", g11_sequence_b, {{0x0D0000, 0x68}, {0x0F0001, 0x00}, {0x0C0001, 0x60}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear_record();
    device().g11.writes.clear();
    c.run();
    EXPECT_EQ(device().g11.writes, c.steps);
    ASSERT_EQ(calls().size(), c.steps.size());
    for (const FileCall& call : calls()) {
      EXPECT_TRUE(call.write);
      EXPECT_EQ(call.length, 512u) << "one sector per send";
    }
    for (const auto& record : commands()) {
      EXPECT_EQ(record.group, 0x11);
      EXPECT_EQ(record.command, 0x02);
      EXPECT_EQ(record.outcome, sim::Outcome::accepted);
    }
    const sim::BusAccess& last = c.steps.back();
    expect_sector(sent_sector(device(), 0), {{1, 0x11},
                                             {2, 0x02},
                                             {3, static_cast<uint8_t>(last.address)},
                                             {4, static_cast<uint8_t>(last.address >> 8)},
                                             {5, static_cast<uint8_t>(last.address >> 16)},
                                             {6, last.value}});
  }
}

}  // namespace
}  // namespace cartdump::test

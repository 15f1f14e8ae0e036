#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/device_link.h"
#include "link/file_io.h"
#include "link/sector.h"
#include "tests/support/device_test.h"

namespace cartdump::test {
namespace {

class DriveLink : public DeviceTest {};

std::vector<uint8_t> batch_of(int sectors) {
  std::vector<uint8_t> batch(sectors * kSectorSize, 0);
  for (int k = 0; k < sectors; ++k) {
    batch[k * kSectorSize + 1] = 0x10;
    batch[k * kSectorSize + 2] = 0x02;
    batch[k * kSectorSize + 3] = static_cast<uint8_t>(k);
  }
  return batch;
}

// A reply file whose every byte tells its own offset, so a test sees which bytes it got.
void fill_reply_file(sim::Device& device) {
  for (size_t i = 0; i < device.reply_file.size(); ++i) {
    device.reply_file[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  }
}

TEST_F(DriveLink, SendWritesTheFramedBatchAsTheCommandFile) {
  for (int sectors : {1, 3}) {
    SCOPED_TRACE(sectors);
    clear_record();
    std::vector<uint8_t> batch = batch_of(sectors);
    std::vector<uint8_t> expected = batch;
    frame_sectors(expected.data(), static_cast<uint32_t>(expected.size()));

    EXPECT_EQ(send_sectors(batch.data(), static_cast<uint32_t>(batch.size())), sectors * 512);
    EXPECT_EQ(batch, expected) << "framed in the caller's buffer";
    EXPECT_EQ(device().command_file, expected);
    ASSERT_EQ(calls().size(), 1u) << "one write for the whole batch";
    EXPECT_EQ(calls()[0].path, "E:\\CMD.CMD");
    EXPECT_EQ(commands().size(), static_cast<size_t>(sectors));
  }
}

TEST_F(DriveLink, EmptyBatchLeavesAnEmptyCommandFile) {
  std::vector<uint8_t> old = batch_of(2);
  send_sectors(old.data(), static_cast<uint32_t>(old.size()));
  ASSERT_EQ(device().command_file.size(), 1024u);
  EXPECT_EQ(send_sectors(nullptr, 0), 0);
  EXPECT_TRUE(device().command_file.empty());
}

TEST_F(DriveLink, SendToAGoneDriveReturnsZero) {
  memory_drive_unplug(true);
  std::vector<uint8_t> batch = batch_of(1);
  EXPECT_EQ(send_sectors(batch.data(), 512), 0);
  EXPECT_TRUE(commands().empty());
  EXPECT_NE(std::string(file_error_text()), "");
}

// How read_reply turns a request into one read of the reply file.
struct ReplyCase {
  uint32_t offset;
  uint32_t length;
  uint32_t read_length;  // what it asks of the file
  int result;
};

TEST_F(DriveLink, ReadReplyTakesTheBlockPathUpTo1024AndTheDirectPathAbove) {
  fill_reply_file(device());
  const ReplyCase cases[] = {
      {0, 2, 1024, 2},           // a status word: one 1024-byte read, cut down
      {0, 1024, 1024, 1024},     // 1024 itself still takes the block path
      {0, 8192, 8192, 8192},     // a chunk goes straight into the destination
      {100, 1025, 1025, 1025},
      {8192, 1024, 1024, 1024},  // the identity block
      {9000, 1024, 1024, 216},   // the file ends 216 bytes in
      {9000, 4000, 4000, 216},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
    clear_record();
    std::vector<uint8_t> destination(c.length, 0xCC);
    EXPECT_EQ(read_reply(c.offset, destination.data(), c.length), c.result);
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].path, "E:\\T-DRIVER.DMP");
    EXPECT_EQ(calls()[0].offset, c.offset);
    EXPECT_EQ(calls()[0].length, c.read_length);
    for (int i = 0; i < c.result; ++i) {
      ASSERT_EQ(destination[i], device().reply_file[c.offset + i]) << "byte " << i;
    }
    // Beyond what arrived: zeros from the block path, the old contents on the direct path.
    const uint8_t rest = c.length <= 1024 ? 0x00 : 0xCC;
    EXPECT_TRUE(std::all_of(destination.begin() + c.result, destination.end(),
                            [&](uint8_t b) { return b == rest; }));
  }
}

TEST_F(DriveLink, MissingReplyFileGivesZerosUpTo1024AndLeavesLongerDestinations) {
  memory_drive_attach(nullptr, root);
  std::vector<uint8_t> small(1024, 0xCC);
  EXPECT_EQ(read_reply(0, small.data(), 1024), 0);
  EXPECT_EQ(small, std::vector<uint8_t>(1024, 0));
  std::vector<uint8_t> large(8192, 0xCC);
  EXPECT_EQ(read_reply(0, large.data(), 8192), 0);
  EXPECT_EQ(large, std::vector<uint8_t>(8192, 0xCC));
}

TEST_F(DriveLink, IdentityBlockNeedsAReplyFileOfAtLeast9216Bytes) {
  std::vector<uint8_t> block(1024);
  EXPECT_EQ(read_reply(kIdentityOffset, block.data(), 1024), 1024);
  device().reply_file.resize(9215);
  EXPECT_EQ(read_reply(kIdentityOffset, block.data(), 1024), 1023);
}

TEST_F(DriveLink, ReadDumpReadsTheDumpFileAtTheDeviceAddress) {
  device().dump_file[0x12345] = 0xAB;
  std::vector<uint8_t> destination(4);
  EXPECT_EQ(read_dump(0x12344, destination.data(), 4), 4);
  EXPECT_EQ(destination[1], 0xAB);
  EXPECT_EQ(calls().back().path, "E:\\DUMP.ROM");
  EXPECT_EQ(calls().back().length, 1024u);
}

TEST_F(DriveLink, NullDestinationReadsNothing) {
  EXPECT_EQ(read_reply(0, nullptr, 2), 0);
  EXPECT_EQ(read_reply(0, nullptr, 8192), 0);
  EXPECT_TRUE(calls().empty());
}

TEST_F(DriveLink, AnEmptyDriveRootResolvesTheNamesInTheWorkingDirectory) {
  set_drive_root("");
  std::vector<uint8_t> batch = batch_of(1);
  std::vector<uint8_t> destination(2);
  send_sectors(batch.data(), 512);
  read_reply(0, destination.data(), 2);
  read_dump(0, destination.data(), 2);
  ASSERT_EQ(calls().size(), 3u);
  EXPECT_EQ(calls()[0].path, "CMD.CMD");
  EXPECT_EQ(calls()[1].path, "T-DRIVER.DMP");
  EXPECT_EQ(calls()[2].path, "DUMP.ROM");
}

TEST_F(DriveLink, PathsFollowTheDriveRootOfTheMoment) {
  EXPECT_STREQ(device_file_path(kCommandFile).data(), "E:\\CMD.CMD");
  set_drive_root("/media/user/N64 READER/");
  EXPECT_STREQ(device_file_path(kResponseFile).data(), "/media/user/N64 READER/T-DRIVER.DMP");
  // A root that fills its whole field still forms a terminated path that holds all of it.
  device_state.drive_root.fill('a');
  const DevicePath path = device_file_path(kDumpFile);
  EXPECT_EQ(std::string(path.data()), std::string(kDriveRootCapacity, 'a') + "DUMP.ROM");
}

}  // namespace
}  // namespace cartdump::test

// cartsim's drive, without a mount: what any program on the host may do to the three files must
// neither crash cartsim nor grow it without bound, and the drive's faults do what they say.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "link/sector.h"
#include "sim/cartsim_drive.h"

namespace cartdump::sim {
namespace {

class CartsimDrive : public ::testing::Test {
 protected:
  DeviceConfig small() {
    DeviceConfig config;
    config.dump_size = 0x1000;
    return config;
  }
  CartsimOptions options;
  Device device{small()};
  SimDrive drive{options, device, nullptr};
};

// Found by fuzz_device_model: a read of CMD.CMD past its end formed an iterator far outside the
// file (undefined behaviour, reported by UBSan).
TEST_F(CartsimDrive, AReadOfTheCommandFilePastItsEndDeliversNothing) {
  std::vector<uint8_t> out(600, 0xA5);
  struct Case {
    size_t file_size;
    uint64_t offset;
  };
  const Case cases[] = {{0, 105}, {0, 0}, {512, 512}, {512, 4096}, {512, UINT64_MAX - 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "file " << c.file_size << " offset " << c.offset);
    ASSERT_EQ(drive.create(DriveFile::command), 0);
    const std::vector<uint8_t> sector(c.file_size, 0x11);
    ASSERT_EQ(drive.write(DriveFile::command, 0, sector.data(), sector.size()), static_cast<int>(c.file_size));
    EXPECT_EQ(drive.read(DriveFile::command, c.offset, out.data(), out.size()), 0);
    EXPECT_EQ(out[0], 0xA5);
  }
  // Inside the file a read still delivers its bytes.
  EXPECT_EQ(drive.read(DriveFile::command, 500, out.data(), out.size()), 12);
  EXPECT_EQ(out[0], 0x11);
}

// Found by fuzz_device_model: a write far past the end of CMD.CMD made the model grow the file to
// the write's end (12 GiB in the finding), running cartsim out of memory.
TEST_F(CartsimDrive, AWritePastTheCommandFileLimitTakesNothing) {
  const uint8_t byte = 0x5A;
  struct Case {
    uint64_t offset;
    size_t size;
  };
  const Case refused[] = {{kCommandFileLimit, 1}, {kCommandFileLimit - 1, 2}, {uint64_t{12} << 30, 1},
                          {UINT64_MAX, 1}, {0, kCommandFileLimit + 1}};
  for (const Case& c : refused) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " size " << c.size);
    // Only the first byte is looked at: the write must be refused before it reads its data.
    EXPECT_EQ(drive.write(DriveFile::command, c.offset, &byte, c.size), -EFBIG);
    EXPECT_TRUE(device.command_file.empty());
    EXPECT_TRUE(device.log.empty());
    EXPECT_EQ(drive.stats().writes, 0u);
  }
  // A write that ends exactly at the limit is taken; the sectors before it are the zeros in front.
  ASSERT_EQ(drive.write(DriveFile::command, kCommandFileLimit - 1, &byte, 1), 1);
  EXPECT_EQ(device.command_file.size(), kCommandFileLimit);
  EXPECT_EQ(device.log.size(), kCommandFileLimit / kSectorSize);
  EXPECT_EQ(device.log.back().outcome, Outcome::bad_marker);
}

// --refuse-writes-after: once N commands are accepted the command file takes nothing more, while
// the other files stay readable; --refuse-direct-io: unbuffered opens of the device's files fail.
TEST_F(CartsimDrive, RefusedWritesAndUnbufferedOpens) {
  options.refuse_writes_after = 1;
  options.refuse_direct_io = true;
  std::vector<uint8_t> sector(kSectorSize, 0);
  sector[1] = 0x10;
  sector[2] = 0x01;
  frame_sectors(sector.data(), kSectorSize);
  ASSERT_EQ(drive.create(DriveFile::command), 0);
  ASSERT_EQ(drive.write(DriveFile::command, 0, sector.data(), sector.size()), static_cast<int>(kSectorSize));
  EXPECT_EQ(device.accepted, 1u);
  EXPECT_EQ(drive.create(DriveFile::command), -EROFS);
  EXPECT_EQ(drive.open(DriveFile::command, O_WRONLY | O_TRUNC), -EROFS);
  EXPECT_EQ(drive.truncate(DriveFile::command, 0), -EROFS);
  EXPECT_EQ(drive.write(DriveFile::command, 0, sector.data(), sector.size()), -EROFS);
  EXPECT_EQ(device.log.size(), 1u);
  EXPECT_EQ(drive.open(DriveFile::command, O_RDONLY), 0);

  std::vector<uint8_t> out(1024);
  EXPECT_EQ(drive.open(DriveFile::reply, O_RDONLY), 0);
  EXPECT_EQ(drive.read(DriveFile::reply, 0, out.data(), out.size()), 1024);
  EXPECT_EQ(drive.open(DriveFile::reply, O_RDONLY | O_DIRECT), -EINVAL);
  EXPECT_EQ(drive.open(DriveFile::dump, O_RDONLY | O_DIRECT), -EINVAL);
}

// --eintr-after: once the device has taken N sectors, every read of the reply file fails with
// EINTR, and keeps failing; the other files read as before.
TEST_F(CartsimDrive, RepliesFailWithEintrOnceTheGivenSectorsAreTaken) {
  options.eintr_after = 1;
  std::vector<uint8_t> out(1024);
  EXPECT_EQ(drive.read(DriveFile::reply, 0, out.data(), out.size()), 1024);
  std::vector<uint8_t> sector(kSectorSize);
  sector[0] = 0x5A;
  ASSERT_EQ(drive.write(DriveFile::command, 0, sector.data(), sector.size()), static_cast<int>(kSectorSize));
  for (int read = 0; read < 3; ++read) {
    EXPECT_EQ(drive.read(DriveFile::reply, 0, out.data(), out.size()), -EINTR);
  }
  EXPECT_EQ(drive.stats().interrupted_reads, 3u);
  EXPECT_EQ(drive.read(DriveFile::dump, 0, out.data(), out.size()), 1024);
  EXPECT_NE(drive.statistics().find("(0 cut short, 3 interrupted)"), std::string::npos) << drive.statistics();
}

}  // namespace
}  // namespace cartdump::sim

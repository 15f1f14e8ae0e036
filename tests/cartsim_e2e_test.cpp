// cartsim end to end: the system's own operations and the real POSIX file primitives against the
// device model mounted through FUSE.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "carts/group_10.h"
#include "link/device_link.h"
#include "link/file_io.h"
#include "link/sector.h"
#include "sim/test_rom.h"
#include "tests/support/cartsim_mount.h"

namespace cartdump::test {
namespace {

constexpr uint32_t kMiB = 1024 * 1024;

struct Descriptor {
  int fd;
  explicit Descriptor(int value) : fd(value) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using AlignedBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

AlignedBuffer aligned_buffer(size_t size) {
  return AlignedBuffer(static_cast<uint8_t*>(std::aligned_alloc(4096, size)));
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
  return {bytes.begin() + static_cast<ptrdiff_t>(offset), bytes.begin() + static_cast<ptrdiff_t>(offset + length)};
}

// A read through the page cache, as an ordinary program reads a file.
std::vector<uint8_t> buffered_read(const std::string& path, size_t length, bool drop_pages = false) {
  std::vector<uint8_t> bytes(length, 0);
  Descriptor file(::open(path.c_str(), O_RDONLY));
  EXPECT_GE(file.fd, 0) << path;
  const ssize_t n = ::pread(file.fd, bytes.data(), length, 0);
  EXPECT_EQ(n, static_cast<ssize_t>(length));
  if (drop_pages) {
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_DONTNEED);
  }
  return bytes;
}

std::vector<std::string> directory_names(const std::string& path) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
  EXPECT_NE(dir, nullptr) << path;
  while (dir != nullptr) {
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// An N64 group sector with address, length and payload from byte 9, framed.
CommandSector n64_sector(uint8_t command, uint32_t address, uint16_t length, uint8_t fill = 0) {
  CommandSector s{};
  s[1] = 0x10;
  s[2] = command;
  for (int i = 0; i < 4; ++i) s[3 + i] = static_cast<uint8_t>(address >> (8 * i));
  s[7] = static_cast<uint8_t>(length);
  s[8] = static_cast<uint8_t>(length >> 8);
  if (command == 0x04) std::fill_n(s.begin() + 9, length, fill);
  frame_sectors(s.data(), kSectorSize);
  return s;
}

std::string log_line(uint8_t group, uint8_t command, uint32_t address, uint32_t length, const char* outcome) {
  char line[128];
  std::snprintf(line, sizeof line, "group 0x%02X command 0x%02X address 0x%08X length %u %s", group, command,
                address, length, outcome);
  return line;
}

std::string identity_name(const std::array<uint8_t, 1024>& block, size_t offset) {
  return std::string(reinterpret_cast<const char*>(block.data() + offset), strnlen(reinterpret_cast<const char*>(block.data() + offset), 256));
}

TEST_F(CartsimTest, TheRootHoldsExactlyTheThreeFiles) {
  ASSERT_NO_FATAL_FAILURE(mount());
  const std::string root = cartsim.drive_root();
  EXPECT_EQ(directory_names(cartsim.mount_path()),
            (std::vector<std::string>{"CMD.CMD", "DUMP.ROM", "T-DRIVER.DMP"}));
  struct stat st{};
  ASSERT_EQ(::stat((root + "T-DRIVER.DMP").c_str(), &st), 0);
  EXPECT_GE(st.st_size, 9216);
  ASSERT_EQ(::stat((root + "DUMP.ROM").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 16 * kMiB);
  ASSERT_EQ(::stat((root + "CMD.CMD").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);

  // The command file holds the last batch sent; nothing else can be created or written.
  CommandSector sector = n64_sector(0x01, 0, 0);
  EXPECT_EQ(send_sectors(sector.data(), kSectorSize), 512);
  EXPECT_EQ(buffered_read(root + "CMD.CMD", kSectorSize), std::vector<uint8_t>(sector.begin(), sector.end()));
  EXPECT_EQ(write_whole_file((root + "NOTES.TXT").c_str(), sector.data(), kSectorSize), 0);
  EXPECT_EQ(write_whole_file((root + "T-DRIVER.DMP").c_str(), sector.data(), kSectorSize), 0);
  EXPECT_EQ(directory_names(cartsim.mount_path()),
            (std::vector<std::string>{"CMD.CMD", "DUMP.ROM", "T-DRIVER.DMP"}));
}

TEST_F(CartsimTest, ReadsTheWhole16MiBCartridge) {
  rom = sim::make_test_rom(5, 16 * kMiB);
  ASSERT_NO_FATAL_FAILURE(mount());
  EXPECT_EQ(n64_init(), 512);
  // As the dump does it: the header through a small reply, then 2048 chunks straight into an
  // aligned image.
  std::vector<uint8_t> header(1024);
  EXPECT_EQ(n64_read(kN64RomBase, header.data(), 1024), 1024u);
  EXPECT_EQ(header, slice(rom, 0, 1024));
  AlignedBuffer image = aligned_buffer(16 * kMiB);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(n64_read(kN64RomBase, image.get(), 16 * kMiB), 16 * kMiB);
  EXPECT_TRUE(std::equal(rom.begin(), rom.end(), image.get()));

  const std::vector<std::string> log = cartsim.log_lines();
  ASSERT_EQ(log.size(), 2 + 2048u);
  EXPECT_EQ(log[2], log_line(0x10, 0x03, kN64RomBase, 8192, "accepted"));
  EXPECT_EQ(log.back(), log_line(0x10, 0x03, kN64RomBase + 16 * kMiB - 8192, 8192, "accepted"));
  EXPECT_EQ(unmount(), "");
  EXPECT_NE(cartsim.stderr_text().find("2050 commands accepted, 0 rejected"), std::string::npos)
      << cartsim.stderr_text();
}

TEST_F(CartsimTest, AnswersTheIdentityRequest) {
  using Id = std::array<uint8_t, 8>;
  const Id default_id{0x43, 0x41, 0x52, 0x54, 0x53, 0x49, 0x4D, 0x01};
  struct Case {
    const char* what;
    std::vector<std::string> options;
    std::string name;
    std::string second_name;  // empty: no second block
    Id id;
  };
  const Case cases[] = {
      {"defaults", {}, "CARTSIM N64 READER", "", default_id},
      {"name and id", {"--name", "BENCH READER", "--id", "0011223344556677"}, "BENCH READER", "",
       {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}},
      {"boot mode", {"--boot", "--name", "LOADER"}, "BOOTLOADER", "", default_id},
      {"second block", {"--second-name", "BOOT2 FIRMWARE", "--id", "a1b2c3d4e5f60718"}, "CARTSIM N64 READER",
       "BOOT2 FIRMWARE", {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(mount(c.options));
    std::array<uint8_t, 1024> block{};
    ASSERT_EQ(read_reply(kIdentityOffset, block.data(), 1024), 1024);
    EXPECT_EQ(identity_name(block, 0), c.name);
    if (c.second_name.empty()) {
      EXPECT_NE(std::memcmp(block.data() + 256, "BOOT", 4), 0);
    } else {
      EXPECT_EQ(identity_name(block, 256), c.second_name);
      EXPECT_TRUE(std::equal(c.id.begin(), c.id.end(), block.begin() + 512));
    }
    // The identity request: the block's first sector sent back as group 0xF0, command 0x04.
    block[1] = 0xF0;
    block[2] = 0x04;
    ASSERT_EQ(send_sectors(block.data(), kSectorSize), 512);
    std::array<uint8_t, 1024> reply{};
    EXPECT_EQ(read_reply(0, reply.data(), 1024), 1024);
    EXPECT_TRUE(std::equal(c.id.begin(), c.id.end(), reply.begin()));
    EXPECT_EQ(cartsim.log_lines(), std::vector<std::string>{log_line(0xF0, 0x04, 0, 0, "accepted")});
    ASSERT_EQ(unmount(), "");
  }
}

TEST_F(CartsimTest, LogsEverySectorInOrder) {
  ASSERT_NO_FATAL_FAILURE(mount());
  std::vector<uint8_t> buffer(10000);
  n64_init();
  EXPECT_EQ(n64_read(kN64RomBase, buffer.data(), 10000), 10000u);
  std::vector<uint8_t> data(600, 0xA5);
  EXPECT_EQ(n64_write(kN64RomBase + 0x100, data.data(), 600), 1024);
  EXPECT_EQ(n64_read_word(kN64RomBase + 0x100), 0xA5A5);
  CommandSector unknown = n64_sector(0x7E, 0, 0);
  EXPECT_EQ(send_sectors(unknown.data(), kSectorSize), 512);

  const std::vector<std::string> expected{
      log_line(0x10, 0x01, 0, 0, "accepted"),
      log_line(0x10, 0x03, 0x1000000, 8192, "accepted"),
      log_line(0x10, 0x03, 0x1002000, 1808, "accepted"),
      log_line(0x10, 0x04, 0x1000100, 500, "accepted"),
      log_line(0x10, 0x04, 0x10002F4, 100, "accepted"),
      log_line(0x10, 0x03, 0x1000100, 1, "accepted"),
      log_line(0x10, 0x7E, 0, 0, "unknown-command"),
  };
  EXPECT_EQ(cartsim.log_lines(), expected);
  EXPECT_EQ(unmount(), "");
  EXPECT_NE(cartsim.stderr_text().find("6 commands accepted, 1 rejected"), std::string::npos)
      << cartsim.stderr_text();
}

TEST_F(CartsimTest, RejectsASectorWithABadCrcAndChangesNothing) {
  struct Case {
    const char* what;
    size_t byte;
  };
  const Case cases[] = {{"a payload byte", 20}, {"the CRC's low byte", 511}};
  ASSERT_NO_FATAL_FAILURE(mount());
  const uint32_t address = kN64RomBase + 0x200;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> before(1024);
    ASSERT_EQ(n64_read(address, before.data(), 1024), 1024u);
    const AlignedBuffer reply_before = aligned_buffer(8192);
    ASSERT_EQ(read_reply(0, reply_before.get(), 8192), 8192);

    // A write of 16 bytes of 0xEE over the same ROM bytes, damaged after framing.
    CommandSector damaged = n64_sector(0x04, address, 16, 0xEE);
    damaged[c.byte] ^= 0x01;
    const std::string command_path = cartsim.drive_root() + "CMD.CMD";
    ASSERT_EQ(write_whole_file(command_path.c_str(), damaged.data(), kSectorSize), 512);
    // A refused sector is not parsed: only its group and command are known.
    EXPECT_EQ(cartsim.log_lines().back(), log_line(0x10, 0x04, 0, 0, "bad-crc"));

    const AlignedBuffer reply_after = aligned_buffer(8192);
    ASSERT_EQ(read_reply(0, reply_after.get(), 8192), 8192);
    EXPECT_EQ(std::memcmp(reply_before.get(), reply_after.get(), 8192), 0) << "the reply changed";
    std::vector<uint8_t> after(1024);
    ASSERT_EQ(n64_read(address, after.data(), 1024), 1024u);
    EXPECT_EQ(after, slice(rom, 0x200, 1024)) << "the cartridge changed";
  }
  EXPECT_EQ(unmount(), "");
  EXPECT_NE(cartsim.stderr_text().find(" 2 rejected"), std::string::npos) << cartsim.stderr_text();
}

TEST_F(CartsimTest, RunsEverySectorOnceHoweverTheWriteArrives) {
  ASSERT_NO_FATAL_FAILURE(mount());
  // Three write sectors handed over in pieces that end inside sectors.
  std::vector<uint8_t> batch;
  for (uint32_t k = 0; k < 3; ++k) {
    const CommandSector s = n64_sector(0x04, kN64RomBase + 16 * k, 16, static_cast<uint8_t>(0xB0 + k));
    batch.insert(batch.end(), s.begin(), s.end());
  }
  {
    Descriptor file(::open((cartsim.drive_root() + "CMD.CMD").c_str(), O_WRONLY | O_TRUNC));
    ASSERT_GE(file.fd, 0);
    size_t at = 0;
    for (const size_t piece : {700u, 100u, 736u}) {
      ASSERT_EQ(::write(file.fd, batch.data() + at, piece), static_cast<ssize_t>(piece));
      at += piece;
    }
  }
  EXPECT_EQ(cartsim.log_lines(), (std::vector<std::string>{log_line(0x10, 0x04, kN64RomBase, 16, "accepted"),
                                                           log_line(0x10, 0x04, kN64RomBase + 16, 16, "accepted"),
                                                           log_line(0x10, 0x04, kN64RomBase + 32, 16, "accepted")}));
  std::vector<uint8_t> written(48);
  ASSERT_EQ(n64_read(kN64RomBase, written.data(), 48), 48u);
  for (uint32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(slice(written, 16 * k, 16), std::vector<uint8_t>(16, static_cast<uint8_t>(0xB0 + k)));
  }

  // A batch larger than one kernel request: 525 sectors in one write, split by the kernel.
  const std::vector<uint8_t> data = sim::make_test_rom(77, 256 * 1024);
  ASSERT_EQ(n64_write(kN64RomBase, data.data(), static_cast<uint32_t>(data.size())), 525 * 512);
  EXPECT_EQ(cartsim.log_lines().size(), 3u + 525u + 1u);
  std::vector<uint8_t> back(data.size());
  ASSERT_EQ(n64_read(kN64RomBase, back.data(), static_cast<uint32_t>(back.size())), back.size());
  EXPECT_EQ(back, data);
}

TEST_F(CartsimTest, FailAfterUnplugsTheDeviceOnceItHasTakenNCommands) {
  ASSERT_NO_FATAL_FAILURE(mount({"--fail-after", "3"}));
  const std::string reply_path = cartsim.drive_root() + "T-DRIVER.DMP";
  EXPECT_EQ(n64_init(), 512);
  std::vector<uint8_t> header(1024);
  EXPECT_EQ(n64_read(kN64RomBase, header.data(), 1024), 1024u);
  EXPECT_EQ(header, slice(rom, 0, 1024));
  Descriptor held(::open(reply_path.c_str(), O_RDONLY | O_DIRECT));  // open while the device is there
  ASSERT_GE(held.fd, 0);
  EXPECT_EQ(n64_init(), 512) << "the third command is still taken";

  // Gone: the files have vanished, reads fail with EIO, the link gets nothing through.
  EXPECT_EQ(directory_names(cartsim.mount_path()), std::vector<std::string>{});
  struct stat st{};
  EXPECT_EQ(::stat(reply_path.c_str(), &st), -1);
  EXPECT_EQ(errno, ENOENT);
  const AlignedBuffer buffer = aligned_buffer(4096);
  EXPECT_EQ(::pread(held.fd, buffer.get(), 4096, 0), -1);
  EXPECT_EQ(errno, EIO);
  std::vector<uint8_t> reply(1024, 0xCC);
  EXPECT_EQ(read_reply(0, reply.data(), 1024), 0);
  EXPECT_EQ(reply, std::vector<uint8_t>(1024, 0));
  EXPECT_EQ(n64_init(), 0);
  EXPECT_EQ(cartsim.log_lines().size(), 3u);
  ::close(held.fd);
  held.fd = -1;
  EXPECT_EQ(unmount(), "");
  EXPECT_NE(cartsim.stderr_text().find("3 commands accepted, 0 rejected"), std::string::npos)
      << cartsim.stderr_text();
  EXPECT_NE(cartsim.stderr_text().find("the device was gone"), std::string::npos);
}

TEST_F(CartsimTest, FailAfterCutsABatchShort) {
  ASSERT_NO_FATAL_FAILURE(mount({"--fail-after", "2"}));
  const std::vector<uint8_t> data(1500, 0x11);
  EXPECT_EQ(n64_write(kN64RomBase, data.data(), 1500), 0) << "the write of three sectors fails";
  EXPECT_EQ(cartsim.log_lines(), (std::vector<std::string>{log_line(0x10, 0x04, kN64RomBase, 500, "accepted"),
                                                           log_line(0x10, 0x04, kN64RomBase + 500, 500, "accepted")}));
  EXPECT_EQ(directory_names(cartsim.mount_path()), std::vector<std::string>{});
}

TEST_F(CartsimTest, FlakyEveryCutsEveryNthReplyReadShortOnce) {
  ASSERT_NO_FATAL_FAILURE(mount({"--flaky-every", "3"}));
  const AlignedBuffer chunk = aligned_buffer(8192);
  EXPECT_EQ(n64_read(kN64RomBase, chunk.get(), 8192), 8192u);  // reply read 1
  struct Read {
    uint32_t length;
    int delivered;
  };
  const Read reads[] = {
      {8192, 8192},  // 2
      {8192, 512},   // 3: short
      {8192, 8192},  // 4: whole again
      {1024, 1024},  // 5
      {1024, 512},   // 6: short, also through the reply block
      {1024, 1024},  // 7
  };
  int number = 2;
  for (const Read& r : reads) {
    SCOPED_TRACE(testing::Message() << "reply read " << number++);
    std::fill_n(chunk.get(), 8192, 0);
    EXPECT_EQ(read_reply(0, chunk.get(), r.length), r.delivered);
    EXPECT_TRUE(std::equal(rom.begin(), rom.begin() + r.delivered, chunk.get()));
  }
  EXPECT_EQ(unmount(), "");
  EXPECT_NE(cartsim.stderr_text().find("(2 cut short)"), std::string::npos) << cartsim.stderr_text();
}

// Lower bounds only: a delay the link model adds is never shorter than asked for.
TEST_F(CartsimTest, LinkModelAddsItsDelays) {
  struct Case {
    const char* what;
    std::vector<std::string> options;
    std::chrono::milliseconds at_least;
  };
  // 256 KiB read: 32 commands, 32 x 512 bytes written and 32 x 8192 read.
  const Case cases[] = {
      {"latency", {"--latency-us", "10000"}, std::chrono::milliseconds(320)},
      {"throughput", {"--bytes-per-sec", "1000000"}, std::chrono::milliseconds(278)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(mount(c.options));
    std::vector<uint8_t> buffer(256 * 1024);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(n64_read(kN64RomBase, buffer.data(), 256 * 1024), 256 * 1024u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, c.at_least);
    EXPECT_EQ(buffer, slice(rom, 0, 256 * 1024));
    ASSERT_EQ(unmount(), "");
  }
}

// The reply file keeps its name, size and time while the device rewrites it, so pages that the
// host once cached stay valid in its eyes (keep_cache): only a read that bypasses the cache is
// sure to see the reply to the last command.
TEST_F(CartsimTest, OnlyUnbufferedReadsAreSureToSeeTheLatestReply) {
  enum class Reader { buffered, dropping_pages, system };
  struct Case {
    const char* what;
    std::vector<std::string> options;
    Reader prime;  // reads the first reply
    Reader reader;  // reads the second
    bool stale;
  };
  const Case cases[] = {
      {"keep_cache: a buffered read gets the old reply", {}, Reader::buffered, Reader::buffered, true},
      {"keep_cache: the system's unbuffered read gets the new one", {}, Reader::buffered, Reader::system, false},
      {"keep_cache: buffered reads that drop their pages", {}, Reader::dropping_pages, Reader::dropping_pages, false},
      {"--direct-io: even a buffered read gets the new reply", {"--direct-io"}, Reader::buffered, Reader::buffered,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(mount(c.options));
    const std::string reply_path = cartsim.drive_root() + "T-DRIVER.DMP";
    const auto read_with = [&](Reader reader) {
      if (reader == Reader::system) {
        std::vector<uint8_t> bytes(1024);
        EXPECT_EQ(read_reply(0, bytes.data(), 1024), 1024);
        return bytes;
      }
      return buffered_read(reply_path, 1024, reader == Reader::dropping_pages);
    };
    std::vector<uint8_t> first(1024);
    ASSERT_EQ(n64_read(kN64RomBase, first.data(), 1024), 1024u);
    ASSERT_EQ(first, slice(rom, 0, 1024));
    EXPECT_EQ(read_with(c.prime), first);

    std::vector<uint8_t> second(1024);
    ASSERT_EQ(n64_read(kN64RomBase + 0x10000, second.data(), 1024), 1024u);
    ASSERT_EQ(second, slice(rom, 0x10000, 1024)) << "the system's own read of the new reply";
    EXPECT_EQ(read_with(c.reader), c.stale ? first : second);
    ASSERT_EQ(unmount(), "");
  }
}

TEST_F(CartsimTest, StopsCleanlyUndoesTheMountAndReports) {
  struct Case {
    const char* what;
    int signal;  // 0: the mount is undone from outside instead, as scripts/test.sh does
    bool hold_file;
    const char* says;
  };
  const Case cases[] = {
      {"SIGINT", SIGINT, false, "cartsim: stopped by signal 2, unmounted "},
      {"SIGTERM", SIGTERM, false, "cartsim: stopped by signal 15, unmounted "},
      {"SIGTERM with a file still open", SIGTERM, true, "cartsim: stopped by signal 15, unmounted "},
      {"unmounted from outside", 0, false, " was unmounted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(mount());
    const std::string mount_path = cartsim.mount_path();
    EXPECT_EQ(n64_init(), 512);
    Descriptor held(c.hold_file ? ::open((cartsim.drive_root() + "T-DRIVER.DMP").c_str(), O_RDONLY) : -1);
    if (c.signal != 0) {
      EXPECT_EQ(unmount(c.signal), "");  // exit status 0 and the mount gone
    } else {
      ASSERT_EQ(::umount2(mount_path.c_str(), MNT_DETACH), 0);
      EXPECT_EQ(cartsim.wait(), "");
    }
    EXPECT_FALSE(is_mounted(mount_path));
    EXPECT_NE(cartsim.stderr_text().find("cartsim: 1 commands accepted, 0 rejected"), std::string::npos)
        << cartsim.stderr_text();
    EXPECT_NE(cartsim.stderr_text().find(c.says), std::string::npos) << cartsim.stderr_text();
  }
}

// A cartsim that dies cannot undo its mount; the fixture then does, and says so.
TEST_F(CartsimTest, TheMountOfAKilledCartsimIsStillUndone) {
  ASSERT_NO_FATAL_FAILURE(mount());
  const std::string mount_path = cartsim.mount_path();
  const std::string problem = unmount(SIGKILL);
  EXPECT_NE(problem.find("cartsim left its mount behind at " + mount_path + " (undone here)"), std::string::npos)
      << problem;
  EXPECT_FALSE(is_mounted(mount_path));
}

TEST(CartsimProgram, HelpListsEveryOption) {
  std::string output;
  ASSERT_EQ(run_program({cartsim_program(), "--help"}, &output), 0);
  for (const char* option : {"--rom", "--ready-file", "--log", "--name", "--id", "--boot", "--second-name",
                             "--latency-us", "--bytes-per-sec", "--fail-after", "--flaky-every", "--direct-io",
                             "--help"}) {
    EXPECT_NE(output.find(std::string("  ") + option + " "), std::string::npos) << option;
  }
}

TEST(CartsimProgram, RefusesABadCommandLineWithoutMounting) {
  std::string output;
  EXPECT_EQ(run_program({cartsim_program(), "/nonexistent/mnt", "--rom", "x.n64", "--id", "12"}, &output), 2);
  EXPECT_NE(output.find("--id takes 16 hex digits: 12"), std::string::npos) << output;
  EXPECT_EQ(run_program({cartsim_program(), "/nonexistent/mnt", "--rom", "/nonexistent/x.n64"}, &output), 1);
  EXPECT_NE(output.find("cannot read the cartridge /nonexistent/x.n64"), std::string::npos) << output;
}

TEST(TestromProgram, WritesTheSameCartridgeInEveryOrder) {
  struct Case {
    const char* order;
    sim::ByteOrder value;
    std::array<uint8_t, 4> first_word;
  };
  const Case cases[] = {
      {"big", sim::ByteOrder::big, {0x80, 0x37, 0x12, 0x40}},
      {"byteswapped", sim::ByteOrder::byteswapped, {0x37, 0x80, 0x40, 0x12}},
      {"little", sim::ByteOrder::little, {0x40, 0x12, 0x37, 0x80}},
      {"wordswapped", sim::ByteOrder::wordswapped, {0x12, 0x40, 0x80, 0x37}},
  };
  const std::vector<uint8_t> cartridge = sim::make_test_rom(9, 64 * 1024);
  const std::string path = "testrom_e2e.n64";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.order);
    std::string output;
    ASSERT_EQ(run_program({testrom_program(), "--seed", "9", "--size", "64K", "--order", c.order, "-o", path}, &output),
              0)
        << output;
    std::vector<uint8_t> image(64 * 1024 + 1);
    ASSERT_EQ(read_file_unbuffered(path.c_str(), image.data(), static_cast<uint32_t>(image.size()), 0), 64 * 1024);
    image.pop_back();
    EXPECT_TRUE(std::equal(c.first_word.begin(), c.first_word.end(), image.begin()));
    sim::convert_byte_order(image, c.value);
    EXPECT_EQ(image, cartridge);
  }
  std::remove(path.c_str());
  std::string output;
  EXPECT_EQ(run_program({testrom_program(), "--size", "1001", "-o", path}, &output), 2);
  EXPECT_NE(output.find("bad size: 1001"), std::string::npos) << output;
  EXPECT_EQ(run_program({testrom_program(), "--order", "middle", "-o", path}, &output), 2);
  EXPECT_NE(output.find("unknown order: middle"), std::string::npos) << output;
}

}  // namespace
}  // namespace cartdump::test

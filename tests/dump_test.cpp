// The dump itself (app/dump.h) on the device model behind the in-memory drive: the command
// sequence, the answer checks, the size search, verification and the retries, with the image
// written to a real file in a scratch directory (in memory where /dev/shm is there).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>
#include <string>
#include <vector>

#include "app/dump.h"
#include "app/dump_rules.h"
#include "carts/group_10.h"
#include "link/device_state.h"
#include "sim/test_rom.h"
#include "tests/support/device_test.h"
#include "tests/support/fake_drive_walk.h"
#include "tests/support/fake_hid.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMiB = 1024 * 1024;

std::vector<uint8_t> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One number for the whole of this test program's run.
unsigned process_tag() {
  static const unsigned tag = std::random_device{}();
  return tag;
}

struct DumpRun {
  int status = -1;
  std::string out;  // what it printed
  std::vector<uint8_t> image;
  DumpOutcome outcome;
};

class Dump : public DeviceTest {
 protected:
  void SetUp() override {
    // The reader's lock is named after its root, and the test programs run side by side: a root of
    // the program's own.
    root = "E:\\dump_tests_" + std::to_string(process_tag()) + "\\";
    DeviceTest::SetUp();
    fake_hid_reset();
    fake_drive_walk_reset();
    fake_drive_walk().volumes = {{"C:\\", false}, {root, true}};
    // Where there is a file system in memory, the images need not reach a disk.
    const std::string name = "cartdump_dump_test_" + std::to_string(std::random_device{}());
    std::error_code error;
    dir_ = fs::path("/dev/shm") / name;
    if (!fs::create_directories(dir_, error)) {
      dir_ = fs::temp_directory_path() / name;
      fs::create_directories(dir_);
    }
  }
  void TearDown() override {
    fs::remove_all(dir_);
    fake_hid_reset();
    fake_drive_walk_reset();
    DeviceTest::TearDown();
  }

  // A dump of the cartridge in config into "image" in the scratch directory.
  DumpRun dump(DumpRequest request) {
    request.output = (dir_ / "image").string();
    DumpRun run;
    ::testing::internal::CaptureStdout();
    run.status = dump_cartridge(request, run.outcome);
    run.out = ::testing::internal::GetCapturedStdout();
    if (fs::exists(dir_ / "image")) run.image = read_file(dir_ / "image");
    return run;
  }
  // An extended run's request for an automatic size.
  static DumpRequest automatic() { return {.size = kRomWindow, .auto_size = true, .extended = true}; }

  // The reads the device took at a device address.
  size_t reads_at(uint32_t address) {
    return std::count_if(commands().begin(), commands().end(), [&](const sim::SectorRecord& r) {
      return r.group == 0x10 && r.command == 0x03 && r.address == address;
    });
  }

  std::vector<uint8_t> prefix(uint32_t size) const { return {config.rom.begin(), config.rom.begin() + size}; }

  fs::path dir_;
};

// The run without arguments keeps its command sequence: the identity request, the slot's
// preparation, the header read, then 2048 chunks in order, and nothing else.
TEST_F(Dump, TheRunWithoutArgumentsKeepsItsCommands) {
  config.rom = sim::make_test_rom(1, 16 * kMiB);
  restart();
  const DumpRun run = dump({});
  ASSERT_EQ(run.status, 0) << run.out.substr(0, 300);
  EXPECT_TRUE(run.image == config.rom);
  ASSERT_EQ(commands().size(), 3u + 2048);
  EXPECT_EQ(commands()[0].group, 0xF0);
  EXPECT_EQ(commands()[1].command, 0x01);
  EXPECT_EQ(commands()[2].length, 1024u);
  for (uint32_t k = 0; k < 2048; ++k) {
    ASSERT_EQ(commands()[3 + k].address, kN64RomBase + k * kChunkLength) << k;
    ASSERT_EQ(commands()[3 + k].length, kChunkLength) << k;
  }
  // (Where the test's capture of standard output is a text-mode file, the CR before the last line
  // break may be lost.)
  EXPECT_NE(run.out.find("16769024/16777216\r16777216/16777216"), std::string::npos);
  EXPECT_TRUE(run.out.ends_with("\nWrite rom to file " + (dir_ / "image").string() + "(16777216bytes)."))
      << run.out.substr(run.out.size() > 200 ? run.out.size() - 200 : 0);
}

// Every candidate size, with what follows the cartridge a mirror of it or open bus: the image is
// the cartridge, no more and no less, and the report says how the size was found.
TEST_F(Dump, AutoFindsEveryCandidateSize) {
  for (const uint32_t size : size_candidates()) {
    for (const sim::Beyond beyond : {sim::Beyond::mirror, sim::Beyond::openbus}) {
      const bool mirror = beyond == sim::Beyond::mirror;
      if (size == kRomWindow && mirror) continue;  // the window holds nothing past 64 MiB either way
      SCOPED_TRACE(testing::Message() << size / kMiB << " MiB, " << (mirror ? "mirror" : "open bus"));
      config.rom = sim::make_test_rom(size / kMiB, size);
      config.beyond = beyond;
      restart();
      const DumpRun run = dump(automatic());
      ASSERT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(run.outcome.size, size);
      EXPECT_TRUE(run.image == config.rom) << "the image is the cartridge";
      const std::string reason = size == kRomWindow ? "up to the 64 MiB limit"
                                                    : std::string(mirror ? "mirror" : "open bus") + " from " +
                                                          std::to_string(size / kMiB) + " MiB";
      EXPECT_EQ(run.outcome.size_reason, reason);
    }
  }
}

// Data that merely looks like an end is not taken for one: a cartridge padded with 0xFF towards its
// end, and one that repeats its start before its end, are dumped whole.
TEST_F(Dump, AutoNeverCutsACartridgeShort) {
  struct Case {
    const char* what;
    sim::Beyond beyond;
    const char* reason;
  };
  const Case cases[] = {{"0xFF padding from 20 MiB", sim::Beyond::openbus, "open bus from 32 MiB"},
                        {"its start again at 4 and 16 MiB", sim::Beyond::mirror, "mirror from 32 MiB"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    config.rom = sim::make_test_rom(32, 32 * kMiB);
    if (c.beyond == sim::Beyond::openbus) {
      std::fill(config.rom.begin() + 20 * kMiB, config.rom.end(), uint8_t{0xFF});
    } else {
      // The first chunk at 4 MiB; the first two, all a first look at a candidate compares, at 16 MiB.
      std::copy_n(config.rom.begin(), kChunkLength, config.rom.begin() + 4 * kMiB);
      std::copy_n(config.rom.begin(), 2 * kChunkLength, config.rom.begin() + 16 * kMiB);
    }
    config.beyond = c.beyond;
    restart();
    const DumpRun run = dump(automatic());
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.outcome.size, 32 * kMiB);
    EXPECT_EQ(run.outcome.size_reason, c.reason);
    EXPECT_TRUE(run.image == config.rom);
  }
}

// --size N reads N MiB whatever follows.
TEST_F(Dump, ASizeAskedForIsReadAsItIs) {
  config.rom = sim::make_test_rom(2, 4 * kMiB);
  config.beyond = sim::Beyond::mirror;
  restart();
  const DumpRun run = dump({.size = 6 * kMiB, .extended = true});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.outcome.size_reason, "asked for 6 MiB");
  std::vector<uint8_t> expected = config.rom;
  expected.insert(expected.end(), config.rom.begin(), config.rom.begin() + 2 * kMiB);
  EXPECT_TRUE(run.image == expected) << "6 MiB, the mirror included";
}

// A dirty contact: every 7th reply has a bit flipped. One pass keeps the flips; --verify reads
// where the passes differ until two reads agree, and the image is exact.
TEST_F(Dump, VerifyMakesTheImageExactUnderADirtyContact) {
  config.rom = sim::make_test_rom(3, 4 * kMiB);
  config.n64_faults.corrupt_every = 7;
  config.n64_faults.seed = 5;
  restart();
  DumpRun run = dump({.size = 4 * kMiB, .extended = true});
  ASSERT_EQ(run.status, 0);
  EXPECT_FALSE(run.image == config.rom) << "the fault shows in one pass";

  restart();
  run = dump({.size = 4 * kMiB, .verify = true, .extended = true});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.image == config.rom) << "verified, the image is exact";
  EXPECT_TRUE(run.outcome.verified);
  EXPECT_GT(run.outcome.reread_chunks, 0u);
  EXPECT_TRUE(run.outcome.unstable.empty());
}

// A chunk that reads differently every time: read 8 times in all, listed as unstable, and the image
// is still written.
TEST_F(Dump, AChunkThatNeverSettlesIsListed) {
  config.rom = sim::make_test_rom(4, 1 * kMiB);
  const uint32_t unstable = kN64RomBase + 0x42000;
  config.n64_faults.corrupt_at = unstable + 0x123;
  restart();
  const DumpRun run = dump({.size = 1 * kMiB, .verify = true, .extended = true});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.outcome.unstable, std::vector<uint32_t>{unstable});
  EXPECT_EQ(run.outcome.reread_chunks, 1u);
  EXPECT_EQ(reads_at(unstable), static_cast<size_t>(kVerifyReads));
  EXPECT_EQ(reads_at(unstable + kChunkLength), 2u) << "its neighbour agreed at once";
  ASSERT_EQ(run.image.size(), 1 * kMiB);
  EXPECT_TRUE(std::equal(run.image.begin(), run.image.begin() + 0x42000, config.rom.begin()));
  EXPECT_TRUE(std::equal(run.image.begin() + 0x44000, run.image.end(), config.rom.begin() + 0x44000));
}

// With verification the header is settled first; a header that never reads the same twice stops
// the run before anything is written.
TEST_F(Dump, AHeaderThatNeverSettlesStopsAVerifiedRun) {
  config.rom = sim::make_test_rom(4, 1 * kMiB);
  config.n64_faults.corrupt_at = kN64RomBase + 0x10;
  restart();
  const DumpRun run = dump({.size = 1 * kMiB, .verify = true, .extended = true});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Can not read the cartridge at device address 0x01000000: its header never read the same "
                         "twice in a row.\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(reads_at(kN64RomBase), static_cast<size_t>(kVerifyReads));
  EXPECT_FALSE(fs::exists(dir_ / "image"));
}

// A reply that comes back short is asked for again, four times in all: three short replies in a row
// still give the exact image, a fourth fails the run with the address.
TEST_F(Dump, TheRetryBound) {
  config.rom = sim::make_test_rom(5, 1 * kMiB);
  const uint32_t flaky = kN64RomBase + 5 * kChunkLength;
  for (const uint32_t shorts : {3u, 4u}) {
    SCOPED_TRACE(shorts);
    restart();
    memory_drive().short_address = flaky;
    memory_drive().short_replies = shorts;
    fs::remove(dir_ / "image");
    const DumpRun run = dump({.size = 1 * kMiB, .extended = true});
    if (shorts == 3) {
      EXPECT_EQ(run.status, 0);
      EXPECT_TRUE(run.image == config.rom);
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.out.find("Can not read the cartridge at device address 0x0100A000: the device answered 4096 "
                             "of 8192 bytes.\n"),
                std::string::npos)
          << run.out;
      EXPECT_FALSE(fs::exists(dir_ / "image"));
    }
    EXPECT_EQ(reads_at(flaky), 4u) << "four asks, the last of them whole or not";
  }
}

// A device that answers zeros after the header is asked once more with fresh commands, then the dump
// stops and writes nothing.
TEST_F(Dump, ADeviceThatAnswersZerosAfterTheHeaderIsRefused) {
  config.rom = sim::make_test_rom(6, 1 * kMiB);
  config.n64_faults.zero_after = 3;  // the identity request, the slot's preparation, the header read
  restart();
  const DumpRun run = dump({.size = 1 * kMiB, .extended = true});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("The device does not answer the addresses asked: the 8192 bytes at 0x01000000 came back "
                         "as zeros, unlike the header read from there just before.\nRun n64dump --devices"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(reads_at(kN64RomBase), 3u) << "the header read, and the first chunk twice";
  EXPECT_EQ(reads_at(kN64RomBase + kChunkLength), 2u);
  EXPECT_EQ(commands().size(), 3u + 4) << "nothing more is asked";
  EXPECT_FALSE(fs::exists(dir_ / "image"));
}

// On the HID link the drive files are looked for in the working directory: a stale "T-DRIVER.DMP"
// there answers every request with the same bytes, which the second chunk shows.
TEST_F(Dump, AStaleReplyFileOnTheHidLinkIsRefused) {
  config.rom = sim::make_test_rom(7, 1 * kMiB);
  restart();
  fake_hid().interfaces = {{.path = "hid-0", .device = &device()}};
  memory_drive_attach(nullptr, root);  // no drive of the device: the names resolve as they are
  memory_files()["T-DRIVER.DMP"] = prefix(kChunkLength);
  const DumpRun run = dump({.size = 1 * kMiB, .extended = true});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("The device does not answer the addresses asked: the 8192 bytes at 0x01002000 are those at "
                         "0x01000000 again.\n"),
            std::string::npos)
      << run.out;
  EXPECT_FALSE(fs::exists(dir_ / "image"));
}

// Where the drive refuses unbuffered reads, one notice says so; an extended run then verifies.
TEST_F(Dump, TheCachedFallbackIsToldAndVerifiedInExtendedRuns) {
  config.rom = sim::make_test_rom(8, 1 * kMiB);
  for (const bool extended : {false, true}) {
    SCOPED_TRACE(extended);
    restart();
    memory_drive().cached_fallback = true;
    const DumpRun run = dump({.size = 1 * kMiB, .extended = extended});
    ASSERT_EQ(run.status, 0);
    const std::string notice = "The drive refuses unbuffered reads: replies may come from the host's cache";
    const size_t at = run.out.find(notice);
    EXPECT_NE(at, std::string::npos) << run.out.substr(0, 300);
    EXPECT_EQ(run.out.find(notice, at + 1), std::string::npos) << "one notice";
    EXPECT_EQ(run.outcome.verified, extended);
    EXPECT_EQ(reads_at(kN64RomBase + 0x10000), extended ? 2u : 1u);
    EXPECT_TRUE(run.image == config.rom);
  }
}

}  // namespace
}  // namespace cartdump::test

// n64dump end to end: the built tool run as a user runs it, in a working directory of its own,
// finding cartsim's drive through the Linux volume walk.
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/test_rom.h"
#include "tests/support/cartsim_mount.h"
#include "tests/support/host_volumes.h"
#include "tests/support/tool_run.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kImageSize = 16 * 1024 * 1024;
constexpr const char* kDeviceName = "CARTSIM N64 READER";
constexpr const char* kPrompt = "Please press any key to exit...\n";

std::vector<uint8_t> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string hex_line(const std::vector<uint8_t>& rom) {
  char line[16];
  std::snprintf(line, sizeof line, "%02X%02X%02X%02X\n", rom[0], rom[1], rom[2], rom[3]);
  return line;
}

// Everything a good run prints when standard output is not a terminal.
std::string good_transcript(const std::vector<uint8_t>& rom) {
  std::string text = std::string("Device: ") + kDeviceName + "\n" + hex_line(rom) + "Start dump....\n";
  for (uint32_t done = 8192; done <= kImageSize; done += 8192) {
    text += std::to_string(done) + "/16777216\r";
  }
  return text + "\nWrite rom to file Dump16M.n64(16777216bytes).";
}

class N64Dump : public CartsimTest {
 protected:
  void SetUp() override {
    CartsimTest::SetUp();
    if (IsSkipped()) return;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) c = (c == '/') ? '_' : c;
    scratch_ = fs::current_path() / "n64dump_e2e" / name;
    fs::remove_all(scratch_);
    fs::create_directories(work());
    rom = sim::make_test_rom(7, kImageSize);
  }
  void TearDown() override {
    CartsimTest::TearDown();
    if (!scratch_.empty()) fs::remove_all(scratch_);
  }

  fs::path work() const { return scratch_ / "work"; }
  fs::path image() const { return work() / "Dump16M.n64"; }

  // cartsim with options, seen by the host as a removable volume after a fixed one.
  void plug_in(const std::vector<std::string>& options = {}) {
    ASSERT_NO_FATAL_FAILURE(mount(options));
    env_ = write_host_volumes((scratch_ / "host").string(), {{"/", false}, {cartsim.mount_path(), true}});
  }
  // A host with fixed volumes only, and no HID device.
  void no_device() { env_ = write_host_volumes((scratch_ / "host").string(), {{"/", false}}); }

  ToolRun dump(const std::string& input = "") { return run_tool({n64dump_program()}, work().string(), env_, input); }

  Environment env_;
  fs::path scratch_;
};

// Every byte order is dumped byte for byte as the cartridge delivers it, with the same transcript.
class N64DumpOrders : public N64Dump, public ::testing::WithParamInterface<const char*> {};

TEST_P(N64DumpOrders, DumpsTheCartridgeByteForByte) {
  sim::ByteOrder order{};
  ASSERT_TRUE(sim::byte_order_named(GetParam(), order));
  sim::convert_byte_order(rom, order);
  ASSERT_NO_FATAL_FAILURE(plug_in());

  const ToolRun run = dump();
  EXPECT_EQ(run.status, 0) << run.out.substr(0, 300);
  EXPECT_EQ(run.out, good_transcript(rom));
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(read_file(image()) == rom) << "the image differs from the cartridge";
  EXPECT_FALSE(fs::exists(work() / "Dump16M.n64.part"));
}

INSTANTIATE_TEST_SUITE_P(AllFour, N64DumpOrders,
                         ::testing::Values("big", "byteswapped", "little", "wordswapped"));

TEST_F(N64Dump, AHeaderWhoseFirstByteIsNotAnOrderMarkStopsTheRun) {
  rom[0] = 0x00;
  ASSERT_NO_FATAL_FAILURE(plug_in());
  const ToolRun run = dump();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string("Device: ") + kDeviceName + "\n00371240\nCan not find n64 data header.\n" + kPrompt);
  EXPECT_FALSE(fs::exists(image()));
}

TEST_F(N64Dump, WithoutADeviceTheRunEndsAtTheKeyPrompt) {
  no_device();
  // End of input, a line, a single key: each ends the prompt at once.
  for (const char* input : {"", "\n", "x"}) {
    SCOPED_TRACE(testing::Message() << "input \"" << input << "\"");
    const ToolRun run = dump(input);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string("Open device error.\n") + kPrompt);
  }
}

TEST_F(N64Dump, AnEarlierImageIsReplacedByExactly16MiB) {
  write_file(image(), std::vector<uint8_t>(kImageSize + 4 * 1024 * 1024, 0xAA));
  ASSERT_NO_FATAL_FAILURE(plug_in());
  const ToolRun run = dump();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(fs::file_size(image()), kImageSize);
  EXPECT_TRUE(read_file(image()) == rom);
}

// A reply that comes back short is asked for again: every 97th reply read is cut short once.
TEST_F(N64Dump, AFlakyLinkStillGivesTheExactImage) {
  ASSERT_NO_FATAL_FAILURE(plug_in({"--flaky-every", "97"}));
  const ToolRun run = dump();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, good_transcript(rom));
  EXPECT_TRUE(read_file(image()) == rom);
}

TEST_F(N64Dump, ADeviceGoneInTheMiddleLeavesTheEarlierImageAlone) {
  const std::vector<uint8_t> earlier(1000, 0x5C);
  write_file(image(), earlier);
  // Discovery's identity request, the slot's preparation and the header read are commands 1 to 3;
  // the 500th is the request for chunk 496, at 0x1000000 + 496 * 8192, whose reply never comes.
  ASSERT_NO_FATAL_FAILURE(plug_in({"--fail-after", "500"}));
  const ToolRun run = dump();
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Can not read the cartridge at device address 0x013E0000: "), std::string::npos)
      << run.out.substr(run.out.size() > 400 ? run.out.size() - 400 : 0);
  EXPECT_TRUE(run.out.ends_with(kPrompt));
  EXPECT_EQ(run.out.find("Write rom to file"), std::string::npos);
  EXPECT_EQ(read_file(image()), earlier);
  EXPECT_FALSE(fs::exists(work() / "Dump16M.n64.part"));
}

// The working directory cannot take the image: a read-only bind mount of it (as root, where
// permissions do not stop a write), or a directory without write permission otherwise.
TEST_F(N64Dump, AnUnwritableWorkingDirectoryFailsTheRun) {
  ASSERT_NO_FATAL_FAILURE(plug_in());
  const std::string dir = work().string();
  bool bound = false;
  if (::geteuid() == 0) {
    if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      GTEST_SKIP() << "cannot bind-mount " << dir << " read-only here";
    }
    bound = true;
    ASSERT_EQ(::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
  } else {
    fs::permissions(work(), fs::perms::owner_read | fs::perms::owner_exec);
  }
  const ToolRun run = dump();
  if (bound) {
    ::umount2(dir.c_str(), MNT_DETACH);
  } else {
    fs::permissions(work(), fs::perms::owner_all);
  }
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("\nCan not write Dump16M.n64: "), std::string::npos) << run.out.substr(run.out.size() - 200);
  EXPECT_TRUE(run.out.ends_with(kPrompt));
  EXPECT_FALSE(fs::exists(image()));
}

// On a terminal the messages are coloured, and the colour is put back after each.
TEST_F(N64Dump, OnATerminalErrorsAreRedAndNoticesGreen) {
  rom[0] = 0x00;
  ASSERT_NO_FATAL_FAILURE(plug_in());
  ToolRun run = run_tool_in_terminal({n64dump_program()}, work().string(), env_, "\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string("\x1b[92mDevice: ") + kDeviceName + "\r\n\x1b[39m00371240\r\n" +
                         "\x1b[91mCan not find n64 data header.\r\n\x1b[39mPlease press any key to exit...\r\n");

  Environment plain = env_;
  plain.push_back({"NO_COLOR", "1"});
  run = run_tool_in_terminal({n64dump_program()}, work().string(), plain, "\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << "NO_COLOR turns colours off";
}

}  // namespace
}  // namespace cartdump::test

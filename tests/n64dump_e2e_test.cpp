// n64dump end to end: the built tool run as a user runs it, in a working directory of its own,
// finding cartsim's drive through the Linux volume walk.
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/test_rom.h"
#include "tests/support/n64dump_fixture.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

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
  EXPECT_EQ(partial_files(), std::vector<std::string>{});
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

// Where the working directory is a mount of its own for a row of the fault matrix.
enum class Workdir : uint8_t { plain, full, read_only };

// A mount over the working directory that the row needs, undone when the row ends.
class WorkdirMount {
 public:
  // Returns "" when the working directory is as asked, otherwise why it cannot be made so here.
  std::string make(Workdir kind, const fs::path& dir, const std::vector<uint8_t>& earlier) {
    dir_ = dir.string();
    if (kind == Workdir::plain) {
      write_file(dir / "Dump16M.n64", earlier);
      return "";
    }
    if (::geteuid() != 0) {
      if (kind == Workdir::read_only) {
        write_file(dir / "Dump16M.n64", earlier);
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        chmodded_ = true;
        return "";
      }
      return "a full directory needs a small tmpfs, which only root can mount";
    }
    if (kind == Workdir::full) {
      // Room for the earlier image and not for a new one beside it.
      if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=16m") != 0) return "cannot mount a tmpfs here";
      mounted_ = true;
      write_file(dir / "Dump16M.n64", earlier);
      return "";
    }
    write_file(dir / "Dump16M.n64", earlier);
    if (::mount(dir_.c_str(), dir_.c_str(), nullptr, MS_BIND, nullptr) != 0) return "cannot bind-mount here";
    mounted_ = true;
    if (::mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
      return "cannot make a bind mount read-only here";
    }
    return "";
  }
  // Lets the row look at what the run left, then undoes the mount.
  void undo() {
    if (chmodded_) fs::permissions(dir_, fs::perms::owner_all);
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    chmodded_ = mounted_ = false;
  }
  ~WorkdirMount() { undo(); }

 private:
  std::string dir_;
  bool mounted_ = false;
  bool chmodded_ = false;
};

// What n64dump does under each fault, on a terminal so that the colour of its message shows. For
// every row: the exit status, the red message, no "Dump16M.n64" unless complete and byte-identical,
// and an earlier one never damaged.
TEST_F(N64Dump, FaultMatrix) {
  struct Fault {
    const char* what;
    std::vector<std::string> options;
    Workdir workdir;
    int status;
    std::string message;  // its red message; empty for a run that must still give the exact image
    const char* reason = nullptr;  // the system's reason the message also names, if any
  };
  const std::string cannot_read = "Can not read the cartridge at device address ";
  // Commands: 1 the identity request, 2 the slot's preparation, 3 the header read, 4 + k chunk k.
  const Fault faults[] = {
      {"gone before discovery", {"--fail-after", "0"}, Workdir::plain, 1, "Open device error."},
      // Gone, the device takes no more commands: the asks again fail at their command's write.
      {"gone at the first command", {"--fail-after", "1"}, Workdir::plain, 1,
       cannot_read + "0x01000000: the slot's preparation was not sent: cannot create "},
      {"gone at the header read", {"--fail-after", "3"}, Workdir::plain, 1, cannot_read + "0x01000000: cannot create "},
      {"gone in the middle", {"--fail-after", "500"}, Workdir::plain, 1, cannot_read + "0x013E0000: cannot create "},
      {"gone at the last chunk", {"--fail-after", "2051"}, Workdir::plain, 1, cannot_read + "0x01FFE000: cannot create "},
      {"every 3rd reply short", {"--flaky-every", "3"}, Workdir::plain, 0, ""},
      {"every 97th reply short", {"--flaky-every", "97"}, Workdir::plain, 0, ""},
      // Even the identity block comes back short: the drive is no device to the walk.
      {"every reply short", {"--flaky-every", "1"}, Workdir::plain, 1, "Open device error."},
      {"reply file below 9216 bytes", {"--shrink-reply", "0:9000"}, Workdir::plain, 1, "Open device error."},
      {"reply file shrinking in the middle", {"--shrink-reply", "100:4096"}, Workdir::plain, 1,
       cannot_read + "0x010C0000: the device answered 4096 of 8192 bytes."},
      {"output directory full", {}, Workdir::full, 1, "Can not write Dump16M.n64: cannot write "},
      {"output directory read-only", {}, Workdir::read_only, 1, "Can not write Dump16M.n64: cannot create "},
      // The drive takes no more commands while its reply file stays readable: no reply is taken
      // for a command that did not reach the device.
      {"writes refused from the first command", {"--refuse-writes-after", "0"}, Workdir::plain, 1,
       cannot_read + "0x01000000: the slot's preparation was not sent: cannot create ", "Read-only file system."},
      {"writes refused in the middle", {"--refuse-writes-after", "500"}, Workdir::plain, 1,
       cannot_read + "0x013E2000: cannot create ", "Read-only file system."},
      {"writes refused at the last chunk", {"--refuse-writes-after", "2050"}, Workdir::plain, 1,
       cannot_read + "0x01FFE000: cannot create ", "Read-only file system."},
  };
  const std::vector<uint8_t> earlier(1024 * 1024, 0x5C);
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.what);
    fs::remove_all(work());
    fs::create_directories(work());
    WorkdirMount workdir;
    if (const std::string why = workdir.make(f.workdir, work(), earlier); !why.empty()) {
      workdir.undo();
      std::cout << "[  SKIPPED ] the row \"" << f.what << "\": " << why << "\n";
      continue;
    }
    ASSERT_NO_FATAL_FAILURE(plug_in(f.options));
    const ToolRun run = run_tool_in_terminal({n64dump_program()}, work().string(), env_, "\n");
    const std::string tail = run.out.substr(run.out.size() > 300 ? run.out.size() - 300 : 0);

    EXPECT_EQ(run.status, f.status) << tail;
    if (f.message.empty()) {
      EXPECT_TRUE(run.out.ends_with("\x1b[92mWrite rom to file Dump16M.n64(16777216bytes).\x1b[39m")) << tail;
      EXPECT_TRUE(read_file(image()) == rom) << "the image differs from the cartridge";
    } else {
      EXPECT_NE(run.out.find("\x1b[91m" + f.message), std::string::npos) << tail;
      if (f.reason != nullptr) {
        EXPECT_NE(run.out.find(f.reason), std::string::npos) << tail;
      }
      EXPECT_TRUE(run.out.ends_with("\x1b[39mPlease press any key to exit...\r\n")) << tail;
      EXPECT_EQ(run.out.find("Write rom to file"), std::string::npos);
      EXPECT_TRUE(read_file(image()) == earlier) << "the earlier image was damaged";
    }
    EXPECT_EQ(partial_files(), std::vector<std::string>{});
    workdir.undo();
    ASSERT_EQ(cartsim.stop(), "");
  }
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

// A device cannot drive the user's terminal through its name: control characters show as '?'.
TEST_F(N64Dump, ADeviceNameCannotCarryEscapeSequences) {
  rom[0] = 0x00;  // the run may stop after the name
  ASSERT_NO_FATAL_FAILURE(plug_in({"--name", "\x1b]0;owned\x07\x1b[2JREADER\x7f"}));
  const ToolRun run = dump();
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.starts_with("Device: ?]0;owned??[2JREADER?\n")) << run.out;
}

}  // namespace
}  // namespace cartdump::test

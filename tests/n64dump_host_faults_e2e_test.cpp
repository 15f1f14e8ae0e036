// n64dump end to end on a hostile host: links and FIFOs planted at the names it uses, a folder
// whose close fails, a reply read interrupted forever, device text that would drive the terminal,
// a console without colours or without a reader. Each row gives the tool a fault and checks what it
// does: never an open that blocks, never a file written through a link, never a wrong image.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/dump.h"
#include "link/posix_file.h"
#include "tests/support/n64dump_fixture.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

constexpr int kPatienceSeconds = 60;  // a run that hangs is stopped and fails its row

std::string tail(const std::string& text) { return text.substr(text.size() > 300 ? text.size() - 300 : 0); }

// Links and FIFOs at the names the run uses. The old fixed partial name is never opened: whatever
// stands there is left as it was, nothing is written through it, and the image is a regular file.
// A FIFO or a directory at the output's own name is refused with a clear error, without a hang.
TEST_F(N64Dump, PlantedFilesAtTheOutputsNames) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& work, const fs::path& target)> plant;
    int status;
    std::string message;  // the error; empty for a run that writes the exact image
  };
  const std::vector<uint8_t> target_bytes(1000, 0x7E);
  const Case cases[] = {
      {"a symlink at the partial name",
       [](const fs::path& w, const fs::path& t) { fs::create_symlink(t, w / "Dump16M.n64.part"); }, 0, ""},
      {"a dangling symlink at the partial name",
       [](const fs::path& w, const fs::path& t) { fs::create_symlink(t.string() + ".missing", w / "Dump16M.n64.part"); },
       0, ""},
      {"a hard link at the partial name",
       [](const fs::path& w, const fs::path& t) { fs::create_hard_link(t, w / "Dump16M.n64.part"); }, 0, ""},
      {"a symlink to /dev/null at the partial name",
       [](const fs::path& w, const fs::path&) { fs::create_symlink("/dev/null", w / "Dump16M.n64.part"); }, 0, ""},
      {"a FIFO at the partial name",
       [](const fs::path& w, const fs::path&) { ASSERT_EQ(::mkfifo((w / "Dump16M.n64.part").c_str(), 0644), 0); }, 0,
       ""},
      {"a FIFO at the output",
       [](const fs::path& w, const fs::path&) { ASSERT_EQ(::mkfifo((w / "Dump16M.n64").c_str(), 0644), 0); }, 1,
       "Can not write Dump16M.n64: it is a FIFO, not a regular file.\n"},
      {"a directory at the output", [](const fs::path& w, const fs::path&) { fs::create_directory(w / "Dump16M.n64"); },
       1, "Can not write Dump16M.n64: it is a directory, not a regular file.\n"},
  };
  ASSERT_NO_FATAL_FAILURE(plug_in());
  const fs::path target = scratch() / "target";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(work());
    fs::create_directories(work());
    write_file(target, target_bytes);
    ASSERT_NO_FATAL_FAILURE(c.plant(work(), target));
    const auto planted = fs::symlink_status(work() / (c.status == 0 ? "Dump16M.n64.part" : "Dump16M.n64")).type();

    const ToolRun run = run_tool({n64dump_program()}, work().string(), env(), "", kPatienceSeconds);
    EXPECT_EQ(run.status, c.status) << tail(run.out);
    if (c.message.empty()) {
      EXPECT_TRUE(run.out.ends_with("Write rom to file Dump16M.n64(16777216bytes).")) << tail(run.out);
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(image()))) << "the image is no regular file";
      EXPECT_TRUE(read_file(image()) == rom) << "the image differs from the cartridge";
      EXPECT_EQ(fs::symlink_status(work() / "Dump16M.n64.part").type(), planted) << "the leftover was touched";
    } else {
      EXPECT_TRUE(run.out.ends_with(c.message + kPrompt)) << tail(run.out);
      EXPECT_EQ(fs::symlink_status(image()).type(), planted) << "the thing at the output's name was touched";
    }
    EXPECT_TRUE(read_file(target) == target_bytes) << "the link's target was written";
    EXPECT_FALSE(fs::exists(target.string() + ".missing")) << "the dangling link's target was created";
    const std::vector<std::string> partials = partial_files();
    EXPECT_TRUE(partials.empty() || partials == std::vector<std::string>{"Dump16M.n64.part"})
        << "the run left a partial file of its own";
  }
}

// Removable volumes before the reader whose T-DRIVER.DMP is no regular file: opening a FIFO would
// block for ever, and a device node reads as an identity block of zeros. Discovery passes over
// them and finds the reader behind.
TEST_F(N64Dump, AnEarlierVolumeWhoseReplyFileIsNoRegularFileIsPassedOver) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& reply)> plant;
  };
  const Case cases[] = {
      {"a FIFO", [](const fs::path& reply) { ASSERT_EQ(::mkfifo(reply.c_str(), 0644), 0); }},
      {"a link to a device node", [](const fs::path& reply) { fs::create_symlink("/dev/zero", reply); }},
      {"a directory", [](const fs::path& reply) { fs::create_directory(reply); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path stick = scratch() / "stick";
    fs::remove_all(stick);
    fs::create_directories(stick);
    ASSERT_NO_FATAL_FAILURE(c.plant(stick / "T-DRIVER.DMP"));
    fs::remove_all(work());
    fs::create_directories(work());
    ASSERT_NO_FATAL_FAILURE(plug_in({}, {stick.string()}));

    const ToolRun run = run_tool({n64dump_program()}, work().string(), env(), "", kPatienceSeconds);
    EXPECT_EQ(run.status, 0) << tail(run.out);
    EXPECT_EQ(run.out, good_transcript(rom));
    EXPECT_TRUE(read_file(image()) == rom) << "the image differs from the cartridge";
    EXPECT_FALSE(fs::exists(stick / "CMD.CMD")) << "a command was sent to the stick";
    ASSERT_EQ(cartsim.stop(), "");
  }
}

// A reply read that fails with EINTR for ever: each read is tried a bounded number of times, each
// request asked for a bounded number of times, then the run stops with the reason.
TEST_F(N64Dump, ARepliesReadInterruptedForeverFailsWithinTheBound) {
  // The first chunks come through; from the 100th command on every reply read is interrupted.
  ASSERT_NO_FATAL_FAILURE(plug_in({"--eintr-after", "100"}));
  const ToolRun run = run_tool({n64dump_program()}, work().string(), env(), "", kPatienceSeconds);
  EXPECT_EQ(run.status, 1) << tail(run.out);
  EXPECT_TRUE(run.out.ends_with("Can not read the cartridge at device address 0x010C0000: cannot read " +
                                cartsim.drive_root() + "T-DRIVER.DMP: Interrupted system call.\n" + kPrompt))
      << tail(run.out);
  EXPECT_FALSE(fs::exists(image()));
  EXPECT_EQ(partial_files(), std::vector<std::string>{});
  ASSERT_EQ(cartsim.stop(), "");
  const std::string reads = std::to_string(kReadAttempts * (1 + kIoRetries)) + " interrupted)";
  EXPECT_NE(cartsim.stderr_text().find(reads), std::string::npos) << cartsim.stderr_text();
}

// A folder that cannot flush to the disk and shows the write error only at close (one that uploads
// on close): the failed close is a failed write. The earlier image stays, the partial file goes.
TEST_F(N64Dump, AFolderWhoseCloseFailsKeepsTheEarlierImage) {
  const fs::path from = scratch() / "earlier";
  fs::create_directories(from);
  const std::vector<uint8_t> earlier(4096, 0x5C);
  write_file(from / "Dump16M.n64", earlier);
  CartsimMount folder;
  ASSERT_EQ(folder.start_program(CARTDUMP_CLOSEFAIL_PROGRAM, {"--from", from.string()}), "");
  ASSERT_NO_FATAL_FAILURE(plug_in());

  const ToolRun run = run_tool({n64dump_program()}, folder.mount_path(), env(), "", kPatienceSeconds);
  EXPECT_EQ(run.status, 1) << tail(run.out);
  const std::string message = "Can not write Dump16M.n64: cannot close Dump16M.n64.";
  EXPECT_NE(run.out.find(message), std::string::npos) << tail(run.out);
  EXPECT_TRUE(run.out.ends_with(".part: Input/output error.\n" + std::string(kPrompt))) << tail(run.out);
  EXPECT_EQ(run.out.find("Write rom to file"), std::string::npos);
  EXPECT_TRUE(read_file(fs::path(folder.mount_path()) / "Dump16M.n64") == earlier) << "the earlier image was lost";
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder.mount_path())) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"Dump16M.n64"}) << "the partial file was left";
  EXPECT_EQ(folder.stop(), "");
}

// C1 controls, raw and in UTF-8 (CSI, OSC, ST), act on terminals of the xterm class: the device's
// name reaches the console as printable ASCII alone, every other byte a '?'.
TEST_F(N64Dump, ADeviceNameWithC1ControlsIsShownAsQuestionMarks) {
  rom[0] = 0x00;  // the run may stop after the name
  ASSERT_NO_FATAL_FAILURE(plug_in({"--name", "\x9b" "2J\xc2\x9d" "0;x\xc2\x9c" "Caf\xc3\xa9"}));
  const ToolRun run = dump();
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.starts_with("Device: ?2J??0;x??Caf??\n")) << run.out;
}

// TERM=dumb: plain text on a terminal too.
TEST_F(N64Dump, WithTermDumbTheOutputIsPlain) {
  rom[0] = 0x00;
  ASSERT_NO_FATAL_FAILURE(plug_in());
  Environment dumb = env();
  dumb.push_back({"TERM", "dumb"});
  const ToolRun run = run_tool_in_terminal({n64dump_program()}, work().string(), dumb, "\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string("Device: ") + kDeviceName + "\r\n00371240\r\nCan not find n64 data header.\r\n" +
                         "Please press any key to exit...\r\n");
}

// n64dump | head -c 10: the console's reader goes away after ten bytes. The run goes on, writes the
// exact image and exits as usual.
TEST_F(N64Dump, AConsoleWhoseReaderHasGoneNeverStopsTheDump) {
  ASSERT_NO_FATAL_FAILURE(plug_in());
  const std::string pipeline =
      "'" + std::string(n64dump_program()) + "' | head -c 10 > head.out; exit ${PIPESTATUS[0]}";
  const ToolRun run = run_tool({"/bin/bash", "-c", pipeline}, work().string(), env(), "", kPatienceSeconds);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(read_file(work() / "head.out") == std::vector<uint8_t>({'D', 'e', 'v', 'i', 'c', 'e', ':', ' ', 'C', 'A'}));
  EXPECT_TRUE(read_file(image()) == rom) << "the image differs from the cartridge";
}

}  // namespace
}  // namespace cartdump::test

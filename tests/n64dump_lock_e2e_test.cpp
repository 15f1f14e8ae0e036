// n64dump end to end: one run owns the reader, and an interrupted run cleans up after itself.
// Runs against cartsim on a slow link (--latency-us), so that a dump lasts long enough for a second
// run or a signal to meet it.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/n64dump_fixture.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

// The device works 300 µs on every command: a 16 MiB dump (2051 commands) takes at least 0.6 s.
const std::vector<std::string> kSlowLink = {"--latency-us", "300"};
// One run's commands: the identity request, the slot's preparation, the header read, 2048 chunks.
constexpr size_t kOneRunsCommands = 2051;

// Waits until cartsim has taken at least count commands (10 s at most).
bool wait_for_commands(const CartsimMount& cartsim, size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (cartsim.log_lines().size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string busy_message(const CartsimMount& cartsim) {
  return "The reader at " + cartsim.drive_root() + " is in use by another n64dump run.\n";
}

// Two runs started together in one working directory: exactly one dumps, and its image is exact;
// the other says the reader is busy, takes the failure path and sends no command, so cartsim's log
// holds one run's sequence. A run after them has the reader again and sends the same sequence.
TEST_F(N64Dump, TwoRunsOnOneReader) {
  ASSERT_NO_FATAL_FAILURE(plug_in(kSlowLink));
  ToolRun runs[2];
  {
    std::thread first([&] { runs[0] = dump(); });
    std::thread second([&] { runs[1] = dump(); });
    first.join();
    second.join();
  }
  std::sort(std::begin(runs), std::end(runs), [](const ToolRun& a, const ToolRun& b) { return a.status < b.status; });
  EXPECT_EQ(runs[0].status, 0) << runs[0].out.substr(0, 300);
  EXPECT_EQ(runs[0].out, good_transcript(rom));
  EXPECT_EQ(runs[1].status, 1) << runs[1].out.substr(0, 300);
  EXPECT_EQ(runs[1].out, busy_message(cartsim) + kPrompt);
  EXPECT_TRUE(read_file(image()) == rom) << "the image differs from the cartridge";
  EXPECT_EQ(partial_files(), std::vector<std::string>{});

  const std::vector<std::string> together = cartsim.log_lines();
  ASSERT_EQ(together.size(), kOneRunsCommands) << "the log holds more than one run's commands";
  EXPECT_TRUE(together[0].starts_with("group 0xF0 command 0x04")) << together[0];
  for (size_t chunk = 0; chunk < 2048; ++chunk) {
    char address[16];
    std::snprintf(address, sizeof address, "0x%08zX", 0x1000000 + chunk * 0x2000);
    ASSERT_TRUE(together[3 + chunk].starts_with(std::string("group 0x10 command 0x03 address ") + address))
        << "command " << 3 + chunk << ": " << together[3 + chunk];
  }

  fs::remove(image());
  const ToolRun after = dump();
  EXPECT_EQ(after.status, 0) << after.out.substr(0, 300);
  EXPECT_TRUE(read_file(image()) == rom);
  const std::vector<std::string> all = cartsim.log_lines();
  ASSERT_EQ(all.size(), 2 * kOneRunsCommands);
  EXPECT_TRUE(std::equal(together.begin(), together.end(), all.begin() + kOneRunsCommands))
      << "the run after sent another sequence";
}

// The lock dies with the process: a run killed mid-dump leaves the reader free for the next.
TEST_F(N64Dump, ARunKilledMidDumpLeavesNoLock) {
  ASSERT_NO_FATAL_FAILURE(plug_in(kSlowLink));
  ToolProcess killed = start_tool({n64dump_program()}, work().string(), env());
  ASSERT_GT(killed.pid, 0);
  ASSERT_TRUE(wait_for_commands(cartsim, 100));
  ::kill(killed.pid, SIGKILL);
  EXPECT_EQ(finish_tool(killed).status, -1) << "the run was to be killed mid-dump";

  const ToolRun next = dump();
  EXPECT_EQ(next.status, 0) << next.out.substr(0, 300);
  EXPECT_TRUE(read_file(image()) == rom);
}

// SIGINT or SIGTERM mid-dump: no partial file, the earlier image as it was, "Interrupted." and
// status 130; so also for an extended run, which gives no report. A run interrupted before it has
// created anything (on a link so slow that the signal meets the identity request) leaves nothing.
TEST_F(N64Dump, Interrupted) {
  struct Case {
    const char* what;
    int signal;
    std::vector<std::string> args;
    std::string latency_us;
    size_t commands_before;  // taken by cartsim when the signal is sent
    const char* output;
  };
  const Case cases[] = {
      {"SIGINT mid-dump", SIGINT, {}, "300", 200, "Dump16M.n64"},
      {"SIGTERM mid-dump", SIGTERM, {}, "300", 200, "Dump16M.n64"},
      {"SIGINT mid-dump, extended run", SIGINT, {"-o", "x.z64", "--z64"}, "300", 200, "x.z64"},
      {"SIGINT before anything is created", SIGINT, {}, "300000", 1, "Dump16M.n64"},
  };
  const std::vector<uint8_t> earlier(4096, 0x5C);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(work());
    fs::create_directories(work());
    const bool has_earlier = c.commands_before > 1;
    if (has_earlier) write_file(work() / c.output, earlier);
    ASSERT_NO_FATAL_FAILURE(plug_in({"--latency-us", c.latency_us}));

    std::vector<std::string> args{n64dump_program()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ToolProcess process = start_tool(args, work().string(), env());
    ASSERT_GT(process.pid, 0);
    ASSERT_TRUE(wait_for_commands(cartsim, c.commands_before));
    ::kill(process.pid, c.signal);
    const ToolRun run = finish_tool(process, 60);

    const std::string all = run.out + run.err;
    EXPECT_EQ(run.status, 130) << all.substr(all.size() > 300 ? all.size() - 300 : 0);
    // On a line of its own, whatever was printed before it.
    EXPECT_TRUE(("\n" + run.out).ends_with("\nInterrupted.\n"))
        << run.out.substr(run.out.size() > 300 ? run.out.size() - 300 : 0);
    EXPECT_EQ(all.find("Write rom to file"), std::string::npos);
    EXPECT_EQ(all.find("Please press any key"), std::string::npos) << "an interrupted run asks for no key";
    EXPECT_EQ(all.find("Title"), std::string::npos) << "an interrupted run gives no report";
    EXPECT_EQ(partial_files(), std::vector<std::string>{});
    if (has_earlier) {
      EXPECT_TRUE(read_file(work() / c.output) == earlier) << "the earlier image was damaged";
    } else {
      EXPECT_TRUE(fs::is_empty(work())) << "the run left something behind";
      EXPECT_LT(cartsim.log_lines().size(), kOneRunsCommands);
    }
    ASSERT_EQ(cartsim.stop(), "");
  }
}

}  // namespace
}  // namespace cartdump::test

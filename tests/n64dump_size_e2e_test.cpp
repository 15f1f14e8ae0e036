// n64dump --size auto end to end on cartsim: the cartridge's end found by what the device returns
// past it, as a user's dump finds it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sim/test_rom.h"
#include "tests/support/n64dump_fixture.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMiB = 1024 * 1024;

class SizeDump : public N64Dump {};

TEST_F(SizeDump, AutoFindsTheCartridgesEnd) {
  struct Case {
    uint32_t mib;
    const char* beyond;
    const char* reason;
  };
  const Case cases[] = {
      {4, "mirror", "mirror from 4 MiB"},
      {4, "openbus", "open bus from 4 MiB"},
      {12, "mirror", "mirror from 12 MiB"},
      {12, "openbus", "open bus from 12 MiB"},
      {64, "fill", "up to the 64 MiB limit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mib << " MiB, " << c.beyond);
    rom = sim::make_test_rom(c.mib, c.mib * kMiB, {"", "", RomChecksumFamily::family_6102});
    ASSERT_NO_FATAL_FAILURE(plug_in({"--beyond", c.beyond}));
    const ToolRun run = n64dump({"--json"});
    EXPECT_EQ(run.status, 0) << run.err.substr(0, 300);
    const nlohmann::json json = json_of(run);
    const std::string name = "Dump" + std::to_string(c.mib) + "M.n64";
    EXPECT_EQ(json["output"], name);
    EXPECT_EQ(json["size"], c.mib * kMiB);
    EXPECT_EQ(json["size_reason"], c.reason);
    EXPECT_TRUE(read_file(work() / name) == rom) << "the image is the cartridge, no more, no less";
    fs::remove(work() / name);
    ASSERT_EQ(cartsim.stop(), "");
  }
}

// On a terminal an extended run shows one line, redrawn in place at most ten times a second: "of ≤
// 64" MiB while the size is still being looked for, the size found at the end.
TEST_F(SizeDump, OnATerminalOneRedrawnProgressLine) {
  rom = sim::make_test_rom(12, 12 * kMiB, {"", "", RomChecksumFamily::family_6102});
  ASSERT_NO_FATAL_FAILURE(plug_in({"--beyond", "mirror", "--latency-us", "150"}));
  const auto started = std::chrono::steady_clock::now();
  const ToolRun run = run_tool_in_terminal({n64dump_program(), "--catalogue", (empty_catalogue()).string()},
                                           work().string(), env_);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(run.status, 0) << run.out.substr(0, 300);
  const size_t start = run.out.find("Start dump....\r\n");
  const size_t end = run.out.find("\r\n", start + 16);
  ASSERT_NE(start, std::string::npos) << run.out.substr(0, 300);
  const std::string line = run.out.substr(start + 16, end - start - 16);
  size_t redraws = 0;
  for (const char c : line) redraws += c == '\r';
  EXPECT_GE(redraws, 2u) << line;
  EXPECT_LE(static_cast<double>(redraws), 10 * seconds + 2) << seconds << " s: " << line;
  EXPECT_NE(line.find("% "), std::string::npos);
  EXPECT_NE(line.find(" of \xE2\x89\xA4 64 MiB"), std::string::npos) << "the bound while auto looks";
  const std::string last = line.substr(line.rfind('\r') + 1);
  EXPECT_EQ(last.rfind("100%  12.0 of 12 MiB  ", 0), 0u) << last;
  EXPECT_NE(last.find(" MiB/s  0:00 left"), std::string::npos) << last;
  EXPECT_EQ(line.find('\n'), std::string::npos) << "no line per chunk";
  EXPECT_NE(run.out.find("Write rom to file Dump12M.n64(12582912bytes)."), std::string::npos);
}

}  // namespace
}  // namespace cartdump::test

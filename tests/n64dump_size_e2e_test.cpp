// n64dump --size auto end to end on cartsim: the cartridge's end found by what the device returns
// past it, as a user's dump finds it.
#include <gtest/gtest.h>

#include <string>

#include "sim/test_rom.h"
#include "tests/support/n64dump_fixture.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMiB = 1024 * 1024;

class SizeDump : public N64DumpTest {};

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
    EXPECT_TRUE(read_whole_file(work() / name) == rom) << "the image is the cartridge, no more, no less";
    fs::remove(work() / name);
    ASSERT_EQ(cartsim.stop(), "");
  }
}

}  // namespace
}  // namespace cartdump::test

// n64dump --verify end to end on cartsim: a dirty contact that flips bits now and then, and a chunk
// that never reads the same twice.
#include <gtest/gtest.h>

#include <string>

#include "sim/test_rom.h"
#include "tests/support/n64dump_fixture.h"

namespace cartdump::test {
namespace {

constexpr uint32_t kMiB = 1024 * 1024;

class VerifyDump : public N64Dump {
 protected:
  void SetUp() override {
    N64Dump::SetUp();
    rom = sim::make_test_rom(41, 4 * kMiB, {"", "", RomChecksumFamily::family_6102});
  }
};

// One bit in every 97th reply: a single pass keeps the flips, a verified one does not.
TEST_F(VerifyDump, TheImageIsExactUnderADirtyContact) {
  ASSERT_NO_FATAL_FAILURE(plug_in({"--corrupt-every", "97", "--seed", "3"}));
  ToolRun run = n64dump({"--size", "4", "-o", "once.z64", "--json"});
  EXPECT_EQ(run.status, 3) << "the flips break the checksum: " << run.err.substr(0, 300);
  EXPECT_FALSE(read_file(work() / "once.z64") == rom);

  run = n64dump({"--size", "4", "--verify", "-o", "twice.z64", "--json"});
  EXPECT_EQ(run.status, 0) << run.err.substr(0, 300);
  EXPECT_TRUE(read_file(work() / "twice.z64") == rom) << "the image is exact";
  const nlohmann::json json = json_of(run);
  EXPECT_EQ(json["verified"], true);
  EXPECT_GT(json["reread_chunks"].get<int>(), 0);
  EXPECT_EQ(json["unstable"], nlohmann::json::array());
  EXPECT_EQ(json["checksum_ok"], true);
}

// A chunk that reads differently every time makes the run exit 3, its address listed, the image
// written for inspection; the human report says so in red.
TEST_F(VerifyDump, AChunkThatNeverSettlesExits3) {
  ASSERT_NO_FATAL_FAILURE(plug_in({"--corrupt-at", "0x1123456"}));
  ToolRun run = n64dump({"--size", "4", "--verify", "--json"});
  EXPECT_EQ(run.status, 3) << run.err.substr(0, 300);
  const nlohmann::json json = json_of(run);
  EXPECT_EQ(json["unstable"], nlohmann::json::parse("[17965056]")) << "0x01122000";
  EXPECT_EQ(json["reread_chunks"], 1);
  EXPECT_EQ(read_file(work() / "Dump4M.n64").size(), 4 * kMiB);

  run = n64dump({"--size", "4", "--verify"});
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.out.find("Verified   1 chunk never read the same twice in a row, at device address 0x01122000; "
                         "1 chunk needed re-reads\n"),
            std::string::npos)
      << run.out.substr(run.out.size() > 600 ? run.out.size() - 600 : 0);
}

}  // namespace
}  // namespace cartdump::test

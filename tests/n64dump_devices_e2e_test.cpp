// n64dump --devices end to end: the built tool, its Linux volume walk shown a fixed volume, a
// memory stick (a removable volume without the reader's files) and cartsim's drive behind it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/test_rom.h"
#include "tests/support/cartsim_mount.h"
#include "tests/support/host_volumes.h"
#include "tests/support/tool_run.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr const char* kDeviceName = "CARTSIM DEVICES READER";

class N64DumpDevices : public CartsimTest {
 protected:
  void SetUp() override {
    CartsimTest::SetUp();
    if (IsSkipped()) return;
    scratch_ = fs::current_path() / "n64dump_devices_e2e" /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(scratch_);
    fs::create_directories(work());
    fs::create_directories(stick());
    rom = sim::make_test_rom(3, 1 << 20);
  }
  void TearDown() override {
    CartsimTest::TearDown();
    if (!scratch_.empty()) fs::remove_all(scratch_);
  }

  fs::path work() const { return scratch_ / "work"; }
  fs::path stick() const { return scratch_ / "stick"; }

  ToolRun devices(const std::vector<HostVolume>& volumes, bool json) {
    const Environment env = write_host_volumes((scratch_ / "host").string(), volumes);
    std::vector<std::string> args{n64dump_program(), "--devices"};
    if (json) args.push_back("--json");
    return run_tool(args, work().string(), env);
  }

  // The volumes as --json lists them, the labels apart: they come from the host's own
  // /dev/disk/by-label, which the test does not control.
  static Json volumes_without_labels(const Json& json) {
    Json volumes = Json::array();
    for (Json volume : json.at("volumes")) {
      EXPECT_TRUE(volume.at("label").is_null() || volume.at("label").is_string());
      volume.erase("label");
      volumes.push_back(volume);
    }
    return volumes;
  }

  fs::path scratch_;
};

TEST_F(N64DumpDevices, ShowsEveryVolumeAndTheChoiceWithoutSendingACommand) {
  ASSERT_NO_FATAL_FAILURE(mount({"--name", kDeviceName}));
  const std::vector<HostVolume> volumes = {{"/", false}, {stick().string(), true}, {cartsim.mount_path(), true}};

  const ToolRun run = devices(volumes, true);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const Json json = Json::parse(run.out);
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"hid", "volumes", "chosen"}));
  EXPECT_EQ(json["hid"], Json::array()) << "a reader's HID interface on this host";
  const Json want = {
      {{"root", "/"}, {"removable", false}, {"reader", false}, {"name", nullptr}},
      {{"root", stick().string() + "/"}, {"removable", true}, {"reader", false}, {"name", nullptr}},
      {{"root", cartsim.drive_root()}, {"removable", true}, {"reader", true}, {"name", kDeviceName}},
  };
  EXPECT_EQ(volumes_without_labels(json), want);
  EXPECT_EQ(json["chosen"], cartsim.drive_root());

  const ToolRun text = devices(volumes, false);
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.err, "");
  // The roots are padded to the longest.
  const std::string root = cartsim.drive_root();
  const std::string stick_root = stick().string() + "/";
  const size_t width = std::max(root.size(), stick_root.size());
  const auto padded = [&](std::string text) {
    text.resize(width, ' ');
    return text;
  };
  for (const std::string& line : {
           std::string("HID     none with the reader's ids (0483:5750)\n"),
           "Volume  " + padded("/") + "  fixed, not probed",
           "Volume  " + padded(stick_root) + "  removable, no identity block",
           "Volume  " + padded(root) + "  removable, reader \"" + kDeviceName + "\"",
           "Choice  " + root + ": the first removable volume with the reader's identity block\n",
       }) {
    EXPECT_NE(text.out.find(line), std::string::npos) << "no \"" << line << "\" in\n" << text.out;
  }
  // Two surveys, and the device saw not a single command sector.
  EXPECT_EQ(cartsim.log_lines(), std::vector<std::string>{});
}

TEST_F(N64DumpDevices, WithoutAReaderTheChoiceIsNoneAndTheRunFails) {
  const std::vector<HostVolume> volumes = {{"/", false}, {stick().string(), true}};
  const ToolRun run = devices(volumes, true);
  EXPECT_EQ(run.status, 1);
  const Json json = Json::parse(run.out);
  EXPECT_TRUE(json["chosen"].is_null());
  ASSERT_EQ(json["volumes"].size(), 2u);
  EXPECT_EQ(json["volumes"][1]["reader"], false);

  const ToolRun text = devices(volumes, false);
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.out.find("Choice  none: no reader found\n"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("Please press any key"), std::string::npos) << "an extended run never waits for a key";
}

}  // namespace
}  // namespace cartdump::test

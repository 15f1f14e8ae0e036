// Discovery end to end: open_device on the real platform files finds cartsim's drive through the
// Linux volume walk, as the tool does at start.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "link/device_state.h"
#include "link/discovery.h"
#include "tests/support/cartsim_mount.h"
#include "tests/support/host_volumes.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

class DiscoveryE2e : public CartsimTest {
 protected:
  void SetUp() override {
    CartsimTest::SetUp();
    if (IsSkipped()) return;
    scratch_ = fs::current_path() / "discovery_e2e" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(scratch_);
    fs::create_directories(scratch_ / "stick");
  }
  void TearDown() override {
    CartsimTest::TearDown();
    if (!scratch_.empty()) fs::remove_all(scratch_);
  }

  // A fixed disk, then an ordinary memory stick (no reply file), then the device.
  Environment volumes() {
    return write_host_volumes((scratch_ / "host").string(),
                              {{"/", false}, {(scratch_ / "stick").string(), true}, {cartsim.mount_path(), true}});
  }

  fs::path scratch_;
};

TEST_F(DiscoveryE2e, FindsTheDeviceDriveBehindAMemoryStick) {
  ASSERT_NO_FATAL_FAILURE(mount({"--name", "READER ONE", "--id", "0102030405060708"}));
  ScopedEnvironment env(volumes());
  device_state = DeviceState{};

  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.link_kind, kLinkDrive);
  EXPECT_EQ(device_state.hid_mode, 0);
  EXPECT_EQ(std::string(device_state.drive_root.data()), cartsim.drive_root());
  EXPECT_STREQ(device_state.device_name.data(), "READER ONE");
  EXPECT_EQ(device_state.boot_mode, 0);
  EXPECT_EQ(device_state.second_block, 0);
  const uint8_t id[] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::memcmp(device_state.device_id.data(), id, 8), 0);
  // Without a second block the id came from one identity request.
  const std::vector<std::string> log = cartsim.log_lines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("group 0xF0 command 0x04"), std::string::npos) << log[0];
}

TEST_F(DiscoveryE2e, ASecondBlockCarriesTheIdAndNoCommandIsSent) {
  ASSERT_NO_FATAL_FAILURE(mount({"--boot", "--second-name", "BOOT LOADER", "--id", "A1A2A3A4A5A6A7A8"}));
  ScopedEnvironment env(volumes());
  device_state = DeviceState{};

  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.boot_mode, 1);
  EXPECT_EQ(device_state.second_block, 1);
  EXPECT_STREQ(device_state.second_name.data(), "BOOT LOADER");
  EXPECT_EQ(device_state.device_id[0], 0xA1);
  EXPECT_EQ(device_state.device_id[7], 0xA8);
  EXPECT_TRUE(cartsim.log_lines().empty());
}

}  // namespace
}  // namespace cartdump::test

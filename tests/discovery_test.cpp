// Discovery over the fake HID host side, the fake volume list and the in-memory drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/device_state.h"
#include "link/discovery.h"
#include "link/hid_link.h"
#include "link/sector.h"
#include "tests/support/device_test.h"
#include "tests/support/fake_drive_walk.h"
#include "tests/support/fake_hid.h"

namespace cartdump::test {
namespace {

std::string text(const std::array<char, kNameCapacity>& field) { return field.data(); }
std::string root_text() { return device_state.drive_root.data(); }

class Discovery : public DiscoveryTest {
 protected:
  // The model device as a HID device.
  void plug_in_hid(int listed_from = 1) {
    fake_hid().interfaces = {{.path = "hid-0", .device = &device(), .listed_from = listed_from}};
  }
  std::vector<std::string> paths_touched() {
    std::vector<std::string> paths;
    for (const FileCall& c : calls()) paths.push_back(c.path);
    return paths;
  }
};

TEST_F(Discovery, HidWinsOverADriveAndLeavesTheDriveRootEmpty) {
  plug_in_hid();
  volumes() = {{"E:\\", true, "CARTDRIVE"}};
  device_state.second_block = 7;  // not written on the HID path
  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.link_kind, kLinkHid);
  EXPECT_EQ(device_state.hid_mode, 1);
  EXPECT_EQ(device_state.boot_mode, 0);
  EXPECT_EQ(device_state.second_block, 7);
  EXPECT_TRUE(std::all_of(device_state.drive_root.begin(), device_state.drive_root.end(), [](char c) { return c == 0; }));
  EXPECT_EQ(text(device_state.device_name), config.name);
  EXPECT_EQ(text(device_state.volume_label), "");
  EXPECT_EQ(device_state.device_id, config.device_id);
  EXPECT_TRUE(calls().empty()) << "the drive is not probed";
  EXPECT_EQ(fake_drive_walk().listings, 0);
  EXPECT_EQ(fake_hid().enumerations, 1);
  // One name query, then one identity query, each a write and a read on device 0.
  const auto& t = fake_hid().transfers;
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].report[1], kOpcodeQueryName);
  EXPECT_EQ(t[2].report[1], kOpcodeQueryId);
  EXPECT_TRUE(std::all_of(t[0].report.begin() + 2, t[0].report.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(Discovery, TheSecondEnumerationMayFindTheDevice) {
  plug_in_hid(2);
  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.link_kind, kLinkHid);
  EXPECT_EQ(fake_hid().enumerations, 2);
  EXPECT_EQ(fake_drive_walk().listings, 0);
}

TEST_F(Discovery, NoHidDeviceInTwoAttemptsFallsBackToTheDrive) {
  plug_in_hid(3);
  volumes() = {{"E:\\", true, ""}};
  ASSERT_TRUE(open_device());
  EXPECT_EQ(fake_hid().enumerations, 2);
  EXPECT_EQ(device_state.link_kind, kLinkDrive);
  EXPECT_EQ(device_state.hid_mode, 0);
  EXPECT_EQ(root_text(), "E:\\");
}

TEST_F(Discovery, HidNames) {
  struct Case {
    const char* what;
    std::string name;
    bool boot;
    std::string device_name;
    uint8_t boot_mode;
  };
  const std::string long_name(64, 'N');
  const Case cases[] = {
      {"a name of 64 characters without NUL", long_name, false, std::string(63, 'N'), 0},
      {"boot mode", "CART READER", true, "BOOTCART READER", 1},
      {"a name of its own beginning BOOT", "BOOTLOADER X", false, "BOOTLOADER X", 1},
      {"an empty name", "", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    config.name = c.name;
    config.boot = c.boot;
    restart();
    plug_in_hid();
    ASSERT_TRUE(open_device());
    EXPECT_EQ(text(device_state.device_name), c.device_name);
    EXPECT_EQ(device_state.boot_mode, c.boot_mode);
  }
}

TEST_F(Discovery, AHidDeviceThatDoesNotAnswerIsStillTheDevice) {
  fake_hid().interfaces = {{.path = "silent"}};
  device_state.device_id.fill(0x77);
  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.link_kind, kLinkHid);
  EXPECT_EQ(text(device_state.device_name), "");
  EXPECT_EQ(device_state.boot_mode, 0);
  EXPECT_EQ(device_state.device_id, (std::array<uint8_t, 8>{}));
}

TEST_F(Discovery, OnlyTheRemovableDeviceDriveIsProbed) {
  volumes() = {{"C:\\", false, "SYSTEM"}, {"E:\\", true, "CARTDRIVE"}, {"F:\\", true, "STICK"}};
  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.link_kind, kLinkDrive);
  EXPECT_EQ(root_text(), "E:\\");
  EXPECT_EQ(text(device_state.volume_label), "CARTDRIVE");
  EXPECT_EQ(text(device_state.device_name), config.name);
  for (const std::string& p : paths_touched()) {
    EXPECT_TRUE(p.starts_with("E:\\")) << p;
  }
  EXPECT_EQ(fake_drive_walk().label_requests, std::vector<std::string>{"E:\\"});
}

// The change from a plain first-removable-drive rule: a removable drive without a whole identity
// block is passed over, and the device behind it is found.
TEST_F(Discovery, RemovableDrivesWithoutAnIdentityBlockArePassedOver) {
  struct Case {
    const char* what;
    std::vector<uint8_t> reply_file;  // D:'s T-DRIVER.DMP; empty: none
  };
  const Case cases[] = {
      {"a stick without the reply file", {}},
      {"a reply file that ends before 9216", std::vector<uint8_t>(9215, 0x41)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    memory_files().clear();
    if (!c.reply_file.empty()) memory_files()["D:\\T-DRIVER.DMP"] = c.reply_file;
    volumes() = {{"C:\\", false, ""}, {"D:\\", true, "STICK"}, {"E:\\", true, "CARTDRIVE"}};
    clear_record();
    ASSERT_TRUE(open_device());
    EXPECT_EQ(root_text(), "E:\\");
    EXPECT_EQ(text(device_state.device_name), config.name);
    EXPECT_EQ(text(device_state.volume_label), "CARTDRIVE");
    EXPECT_EQ(device_state.device_id, config.device_id);
    EXPECT_EQ(fake_drive_walk().label_requests.back(), "E:\\");
    ASSERT_FALSE(calls().empty());
    EXPECT_EQ(calls()[0].path, "D:\\T-DRIVER.DMP");
    EXPECT_EQ(calls()[0].offset, kIdentityOffset);
  }
}

// Every probe of the walk, and the label of the drive it finds, happen with the host told not to
// ask the user about drives without a medium; the setting before is back once the walk is over,
// whether it found a drive or not.
TEST_F(Discovery, TheWalkKeepsTheHostQuietWhileItProbes) {
  for (const bool found : {true, false}) {
    SCOPED_TRACE(found ? "the device is found" : "no device");
    fake_drive_walk_reset();
    clear_record();
    volumes() = {{"C:\\", false, "SYSTEM"}, {"D:\\", true, "EMPTY"}};
    if (found) volumes().push_back({"E:\\", true, "CARTDRIVE"});
    EXPECT_EQ(open_device(), found);
    ASSERT_FALSE(calls().empty());
    for (size_t i = 0; i < calls().size(); ++i) {
      EXPECT_TRUE(fake_drive_walk_call_quiet(i)) << calls()[i].path << " at " << calls()[i].offset;
    }
    EXPECT_EQ(fake_drive_walk().labels_quiet, std::vector<bool>(found ? 1 : 0, true));
    EXPECT_EQ(fake_drive_walk().quiet_depth, 0u);
    EXPECT_TRUE(fake_drive_walk().quiet_starts.empty());
    // The walk, and the identification of the drive found (after the reader's lock is taken).
    EXPECT_EQ(fake_drive_walk().quiet_spans.size(), found ? 2u : 1u);
  }
}

TEST_F(Discovery, NoDeviceAnywhereFails) {
  struct Case {
    const char* what;
    std::vector<FakeVolume> volumes;
    std::string root;  // what drive_root holds afterwards
  };
  const Case cases[] = {
      {"no volumes", {}, ""},
      {"fixed drives only", {{"C:\\", false, ""}, {"G:\\", false, ""}}, "G:\\"},
      {"removable drives without identity blocks", {{"D:\\", true, ""}, {"F:\\", true, ""}, {"H:\\", false, ""}}, "H:\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device_state = DeviceState{};
    volumes() = c.volumes;
    const int enumerations = fake_hid().enumerations;
    EXPECT_FALSE(open_device());
    EXPECT_EQ(device_state.link_kind, 0);
    EXPECT_EQ(root_text(), c.root);
    EXPECT_EQ(fake_hid().enumerations - enumerations, 2) << "two HID attempts";
  }
}

TEST_F(Discovery, WithoutASecondBlockTheIdentityRequestIsTheBlockItself) {
  // Identity block bytes past the name, which the request carries as they are.
  for (size_t i = 40; i < 1024; ++i) device().reply_file[kIdentityOffset + i] = static_cast<uint8_t>(i * 13 + 5);
  device().reply_file[kIdentityOffset + 256] = 'X';  // not "BOOT": no second block
  const std::vector<uint8_t> block(device().reply_file.begin() + kIdentityOffset, device().reply_file.end());
  volumes() = {{"E:\\", true, ""}};

  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.second_block, 0);
  EXPECT_EQ(text(device_state.second_name), "");
  const auto writes = std::count_if(calls().begin(), calls().end(), [](const FileCall& c) { return c.write; });
  EXPECT_EQ(writes, 1);
  const std::vector<uint8_t>& sector = device().command_file;
  ASSERT_EQ(sector.size(), 512u);
  EXPECT_EQ(sector[0], 0x5A);
  EXPECT_EQ(sector[1], 0xF0);
  EXPECT_EQ(sector[2], 0x04);
  EXPECT_TRUE(std::equal(sector.begin() + 3, sector.begin() + 510, block.begin() + 3));
  const uint16_t crc = crc16_xmodem(sector.data(), 512);
  EXPECT_EQ(sector[510], crc >> 8);
  EXPECT_EQ(sector[511], crc & 0xFF);
  // The id is the reply at offset 0, read after the request.
  EXPECT_EQ(device_state.device_id, config.device_id);
  ASSERT_GE(calls().size(), 3u);
  EXPECT_EQ(calls().back().offset, 0u);
  EXPECT_EQ(text(device_state.device_name), config.name) << "copied before the reply overwrote the block";
}

TEST_F(Discovery, ASecondBlockCarriesTheIdAndNoCommandIsSent) {
  config.second_block = true;
  config.second_name = "BOOT LOADER 2.1";
  config.device_id = {1, 2, 3, 4, 5, 6, 7, 8};
  restart();
  device_state = DeviceState{};
  volumes() = {{"E:\\", true, ""}};
  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.second_block, 1);
  EXPECT_EQ(text(device_state.second_name), "BOOT LOADER 2.1");
  EXPECT_EQ(device_state.device_id, config.device_id);
  EXPECT_TRUE(commands().empty());
  EXPECT_TRUE(std::none_of(calls().begin(), calls().end(), [](const FileCall& c) { return c.write; }));
}

TEST_F(Discovery, BootAtTheNameAloneSetsBootModeOnly) {
  config.boot = true;
  restart();
  device_state = DeviceState{};
  volumes() = {{"E:\\", true, ""}};
  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.boot_mode, 1);
  EXPECT_EQ(device_state.second_block, 0);
  EXPECT_EQ(text(device_state.device_name), "BOOT" + config.name);
}

TEST_F(Discovery, NamesAndLabelsAreCut) {
  config.name = std::string(100, 'A');
  config.second_block = true;
  config.second_name = "BOOT" + std::string(100, 'B');
  restart();
  device_state = DeviceState{};
  volumes() = {{"E:\\", true, std::string(70, 'L')}};
  ASSERT_TRUE(open_device());
  EXPECT_EQ(text(device_state.device_name), std::string(63, 'A'));
  EXPECT_EQ(text(device_state.second_name), "BOOT" + std::string(59, 'B'));
  EXPECT_EQ(text(device_state.volume_label), std::string(62, 'L')) << "a label buffer of 63";
}

TEST_F(Discovery, ANewDiscoveryClearsWhatTheLastOneFound) {
  volumes() = {{"E:\\", true, "CARTDRIVE"}};
  config.second_block = true;
  restart();
  device_state = DeviceState{};
  ASSERT_TRUE(open_device());
  ASSERT_NE(text(device_state.second_name), "");
  plug_in_hid();
  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.hid_mode, 1);
  EXPECT_EQ(root_text(), "");
  EXPECT_EQ(text(device_state.volume_label), "");
  EXPECT_EQ(text(device_state.second_name), "");
}

TEST_F(Discovery, CloseDeviceClosesHidDeviceZeroOnlyInHidMode) {
  plug_in_hid();
  ASSERT_TRUE(open_device());
  device_state.hid_mode = 0;
  close_device();
  EXPECT_EQ(fake_hid().open_handles, 1);
  device_state.hid_mode = 1;
  close_device();
  EXPECT_EQ(fake_hid().open_handles, 0);
  ASSERT_NE(hid_list_at(0), nullptr);
  EXPECT_EQ(hid_list_at(0)->open, 0);
}

TEST_F(Discovery, InformationQueriesHandBackTheAnswer) {
  plug_in_hid();
  ASSERT_TRUE(find_hid_device());
  std::array<uint8_t, 64> reply;
  reply.fill(0xCC);
  dev_query_id(reply.data());
  EXPECT_TRUE(std::equal(config.device_id.begin(), config.device_id.end(), reply.begin()));
  EXPECT_TRUE(std::all_of(reply.begin() + 8, reply.end(), [](uint8_t b) { return b == 0; }));
  // A query that times out leaves 64 zero bytes.
  reply.fill(0xCC);
  fake_hid().coming = {FakeTransfer::normal, FakeTransfer::time_out};
  dev_query_name(reply.data());
  EXPECT_EQ(reply, (std::array<uint8_t, 64>{}));
}

// Discovery in two halves: locate_device finds the device and sends it nothing (so that n64dump
// can take its lock in between); identify_device then does the rest, as open_device would.
TEST_F(Discovery, LocatingADriveSendsNothingAndIdentifyingItSendsTheIdentityRequest) {
  volumes() = {{"C:\\", false, "SYSTEM"}, {"D:\\", true, "STICK"}, {"E:\\", true, "CARTDRIVE"}};
  ASSERT_TRUE(locate_device());
  EXPECT_EQ(device_state.link_kind, kLinkDrive);
  EXPECT_STREQ(located_device_path(), "E:\\");
  EXPECT_TRUE(memory_drive_writes().empty()) << "locating sent a command";
  EXPECT_EQ(text(device_state.device_name), "");
  EXPECT_TRUE(fake_drive_walk().label_requests.empty());

  identify_device();
  const auto writes = memory_drive_writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0]->path, "E:\\CMD.CMD");
  EXPECT_EQ(writes[0]->bytes[1], 0xF0);
  EXPECT_EQ(writes[0]->bytes[2], 0x04);
  EXPECT_EQ(text(device_state.device_name), config.name);
  EXPECT_EQ(text(device_state.volume_label), "CARTDRIVE");
  EXPECT_EQ(device_state.device_id, config.device_id);
}

TEST_F(Discovery, LocatingAHidDeviceOpensItAndAsksNothing) {
  plug_in_hid();
  ASSERT_TRUE(locate_device());
  EXPECT_EQ(device_state.link_kind, kLinkHid);
  EXPECT_EQ(device_state.hid_mode, 1);
  EXPECT_STREQ(located_device_path(), "hid-0");
  EXPECT_TRUE(fake_hid().transfers.empty()) << "locating sent a report";
  identify_device();
  EXPECT_EQ(fake_hid().transfers.size(), 4u);
  EXPECT_EQ(text(device_state.device_name), config.name);
  EXPECT_EQ(device_state.device_id, config.device_id);
}

TEST_F(Discovery, NothingToLocate) {
  volumes() = {{"C:\\", false, "SYSTEM"}};
  EXPECT_FALSE(locate_device());
  EXPECT_TRUE(memory_drive_writes().empty());
  EXPECT_STREQ(hid_device_path(0), "");
}

}  // namespace
}  // namespace cartdump::test

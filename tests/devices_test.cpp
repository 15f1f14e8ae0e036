// n64dump --devices: the survey of what discovery sees over the fake HID host side, the fake volume
// list and the in-memory drive, and how n64dump shows it (text and JSON).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "app/devices.h"
#include "link/device_link.h"
#include "link/device_state.h"
#include "link/discovery.h"
#include "link/discovery_survey.h"
#include "link/hid_link.h"
#include "tests/support/device_test.h"
#include "tests/support/fake_drive_walk.h"
#include "tests/support/fake_hid.h"

namespace cartdump::test {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kHint = "hint: the udev rule 70-cartdump.rules";

template <size_t N>
std::string text(const std::array<char, N>& field) {
  return field.data();
}

std::vector<std::string> line_texts(const std::vector<ReportLine>& lines) {
  std::vector<std::string> texts;
  for (const ReportLine& line : lines) texts.push_back(line.label + "|" + line.text);
  return texts;
}

class Devices : public DiscoveryTest {
 protected:
  void TearDown() override {
    fake_hid_check_settled(0);
    EXPECT_EQ(fake_hid().lock_faults, 0);
    DiscoveryTest::TearDown();
  }

  FakeHidInterface reader_interface(const std::string& path) { return {.path = path, .device = &device()}; }
  // The paths of the HID entries.
  static std::vector<std::string> hid_paths() {
    std::vector<std::string> paths;
    for (const HidSurveyEntry& e : discovery_survey.hid) paths.push_back(text(e.path));
    return paths;
  }
  // Nothing was written to any file: no command sector reached a drive.
  void expect_no_command_sent() {
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(std::none_of(calls().begin(), calls().end(), [](const FileCall& c) { return c.write; }));
  }
};

// The walk's order and rules: fixed volumes are not probed, removable ones without a whole identity
// block are passed over, the first with one is the choice; unlike a dump the survey goes on past
// it, asks every volume for its label, and reads nothing but identity blocks.
TEST_F(Devices, VolumesInTheWalksOrderAndTheFirstReaderIsTheChoice) {
  memory_files()["F:\\T-DRIVER.DMP"] = std::vector<uint8_t>(9215, 0x41);  // ends before a whole block
  volumes() = {{"C:\\", false, "SYSTEM"},
               {"D:\\", true, ""},
               {"E:\\", true, "CARTDRIVE"},
               {"F:\\", true, "STICK"}};
  ASSERT_EQ(survey_devices(), 1);
  const DiscoverySurvey& s = discovery_survey;
  EXPECT_EQ(s.link_kind, kLinkDrive);
  EXPECT_EQ(s.chosen_volume, 2);
  EXPECT_TRUE(s.hid.empty());
  ASSERT_EQ(s.volumes.size(), 4u);
  struct Want {
    const char* root;
    uint8_t removable, reader;
    std::string name;
    uint8_t has_label;
    const char* label;
  };
  const Want want[] = {{"C:\\", 0, 0, "", 1, "SYSTEM"},
                       {"D:\\", 1, 0, "", 0, ""},
                       {"E:\\", 1, 1, config.name, 1, "CARTDRIVE"},
                       {"F:\\", 1, 0, "", 1, "STICK"}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(want[i].root);
    EXPECT_EQ(text(s.volumes[i].root), want[i].root);
    EXPECT_EQ(s.volumes[i].removable, want[i].removable);
    EXPECT_EQ(s.volumes[i].reader, want[i].reader);
    EXPECT_EQ(text(s.volumes[i].name), want[i].name);
    EXPECT_EQ(s.volumes[i].has_label, want[i].has_label);
    EXPECT_EQ(text(s.volumes[i].label), want[i].label);
  }
  // Identity blocks of the three removable volumes alone, each read with the host kept quiet.
  ASSERT_EQ(calls().size(), 3u);
  for (size_t i = 0; i < calls().size(); ++i) {
    EXPECT_EQ(calls()[i].path, std::string(want[i + 1].root) + "T-DRIVER.DMP");
    EXPECT_EQ(calls()[i].offset, kIdentityOffset);
    EXPECT_TRUE(fake_drive_walk_call_quiet(i));
  }
  EXPECT_EQ(fake_drive_walk().labels_quiet, std::vector<bool>(4, true));
  EXPECT_EQ(fake_drive_walk().quiet_depth, 0u);
  expect_no_command_sent();
  EXPECT_EQ(text(device_state.drive_root), "") << "the DeviceState is left as it was";
}

// A device without a second block gets its id from an identity request when a dump finds it;
// the survey reads the block and sends nothing.
TEST_F(Devices, TheSurveySendsNoCommandWhereDiscoveryWould) {
  config.second_block = false;
  restart();
  device_state = DeviceState{};
  volumes() = {{"E:\\", true, ""}};
  ASSERT_EQ(survey_devices(), 1);
  expect_no_command_sent();
  clear_record();
  ASSERT_TRUE(open_device());
  EXPECT_EQ(commands().size(), 1u) << "discovery itself does send the identity request";
}

TEST_F(Devices, NoReaderAnywhere) {
  volumes() = {{"C:\\", false, ""}, {"D:\\", true, "STICK"}};
  memory_drive_attach(nullptr, "");
  EXPECT_EQ(survey_devices(), 0);
  EXPECT_EQ(discovery_survey.link_kind, 0);
  EXPECT_EQ(discovery_survey.chosen_volume, -1);
  const Json json = Json::parse(devices_json(discovery_survey));
  EXPECT_TRUE(json["chosen"].is_null());
  const std::vector<ReportLine> lines = devices_lines(discovery_survey);
  EXPECT_EQ(line_texts(lines).back(), "Choice|none: no reader found");
  EXPECT_EQ(lines.back().color, ConsoleColor::error);
  EXPECT_EQ(line_texts(lines).front(), "HID|none with the reader's ids (0483:5750)");
}

// The HID step wins over the drives; every interface with the reader's ids is listed with its
// name or with why it gave none, and interfaces of other devices are not even opened.
TEST_F(Devices, HidInterfacesWithTheReadersIdsAndTheHidChoice) {
  fake_hid().error_code = 13;
  fake_hid().error_text = "Permission denied";
  FakeHidInterface denied{.path = "/dev/hidraw1", .open_fails = true, .open_error = 13};
  FakeHidInterface broken{.path = "/dev/hidraw2", .open_fails = true, .open_error = 5};
  FakeHidInterface keyboard{.path = "/dev/hidraw3", .vendor_id = 0x046D, .product_id = 0xC31C};
  FakeHidInterface silent{.path = "/dev/hidraw4"};  // opens, never answers
  FakeHidInterface undescribed = reader_interface("/dev/hidraw5");
  undescribed.caps_fail = true;
  fake_hid().interfaces = {denied, broken, keyboard, silent, undescribed, reader_interface("/dev/hidraw6")};
  volumes() = {{"E:\\", true, "CARTDRIVE"}};

  ASSERT_EQ(survey_devices(), 1);
  const DiscoverySurvey& s = discovery_survey;
  EXPECT_EQ(s.link_kind, kLinkHid);
  EXPECT_EQ(hid_paths(),
            (std::vector<std::string>{"/dev/hidraw1", "/dev/hidraw2", "/dev/hidraw4", "/dev/hidraw5", "/dev/hidraw6"}));
  EXPECT_EQ(s.chosen_hid, 2) << "HID device 0: the first that opens and passes the filters";
  EXPECT_EQ(std::count(fake_hid().opened.begin(), fake_hid().opened.end(), "/dev/hidraw3"), 1)
      << "the keyboard is opened by the HID step alone, as a dump opens it, not by the listing";
  EXPECT_EQ(s.hid[0].status, HidSurveyStatus::not_opened);
  EXPECT_EQ(s.hid[0].access_denied, 1);
  EXPECT_EQ(s.hid[1].status, HidSurveyStatus::not_opened);
  EXPECT_EQ(s.hid[1].access_denied, 0);
  EXPECT_EQ(s.hid[2].status, HidSurveyStatus::silent);
  EXPECT_EQ(s.hid[3].status, HidSurveyStatus::not_described);
  EXPECT_EQ(s.hid[4].status, HidSurveyStatus::answered);
  EXPECT_EQ(text(s.hid[4].name), config.name);
  // The name query is all that reached the devices.
  for (const FakeTransferRecord& t : fake_hid().transfers) {
    if (t.direction == HidDirection::write) {
      EXPECT_EQ(t.report.at(1), kOpcodeQueryName);
    }
  }
  // The volumes are still shown, though a dump would not walk them.
  ASSERT_EQ(s.volumes.size(), 1u);
  EXPECT_EQ(s.volumes[0].reader, 1);
  EXPECT_EQ(s.chosen_volume, 0);
  expect_no_command_sent();
  EXPECT_EQ(hid_list_at(0), nullptr) << "the HID device list is left empty";

  const std::vector<std::string> lines = line_texts(devices_lines(s));
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "HID|/dev/hidraw1  can not be opened: Permission denied");
  EXPECT_EQ(lines[1].rfind(std::string("|") + kHint, 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("udevadm control --reload-rules && udevadm trigger"), std::string::npos);
  EXPECT_EQ(lines[2], "HID|/dev/hidraw2  can not be opened: error 5") << "no hint: not a refusal";
  EXPECT_EQ(lines[3], "HID|/dev/hidraw4  opened, but no answer to the name query");
  EXPECT_EQ(lines[4], "HID|/dev/hidraw5  opened, but its attributes or its top-level collection could not be read");
  EXPECT_EQ(lines[5], "HID|/dev/hidraw6  answers \"" + config.name + "\"");
  EXPECT_EQ(lines[6].rfind("Volume|E:\\  removable, reader \"" + config.name + "\", label \"CARTDRIVE\"", 0), 0u);
  EXPECT_EQ(lines[7], "Choice|HID /dev/hidraw4: the reader as a HID device (the HID step comes before the volumes)");

  const Json json = Json::parse(devices_json(s));
  const Json want_hid = Json::parse(R"([
    {"path": "/dev/hidraw1", "name": null, "error": "Permission denied"},
    {"path": "/dev/hidraw2", "name": null, "error": "error 5"},
    {"path": "/dev/hidraw4", "name": null, "error": "no answer to the name query"},
    {"path": "/dev/hidraw5", "name": null,
     "error": "its attributes or its top-level collection could not be read"},
    {"path": "/dev/hidraw6", "name": ")" + config.name + R"(", "error": null}])");
  EXPECT_EQ(json["hid"], want_hid);
  EXPECT_EQ(json["chosen"], "HID /dev/hidraw4");
}

// Where the enumeration does not tell an interface's ids, only one that opens as the reader's is
// listed; one that cannot be opened may be any device, and is left out.
TEST_F(Devices, InterfacesOfUnknownIds) {
  FakeHidInterface hidden_reader = reader_interface("hidden-reader");
  hidden_reader.ids_hidden = true;
  FakeHidInterface hidden_keyboard{.path = "hidden-keyboard", .vendor_id = 0x046D, .ids_hidden = true};
  FakeHidInterface hidden_closed{.path = "hidden-closed", .ids_hidden = true, .open_fails = true, .open_error = 13};
  fake_hid().interfaces = {hidden_closed, hidden_keyboard, hidden_reader};
  ASSERT_EQ(survey_devices(), 1);
  EXPECT_EQ(hid_paths(), std::vector<std::string>{"hidden-reader"});
  EXPECT_EQ(discovery_survey.chosen_hid, 0);
}

// An interface that the HID step passes over leaves the choice to the drives.
TEST_F(Devices, AnInterfaceTheHidStepPassesOverLeavesTheChoiceToTheDrives) {
  FakeHidInterface undescribed = reader_interface("/dev/hidraw0");
  undescribed.attributes_fail = true;
  fake_hid().interfaces = {undescribed, {.path = "/dev/hidraw1", .open_fails = true, .open_error = 13}};
  volumes() = {{"E:\\", true, ""}};
  ASSERT_EQ(survey_devices(), 1);
  EXPECT_EQ(discovery_survey.link_kind, kLinkDrive);
  EXPECT_EQ(discovery_survey.chosen_hid, -1);
  EXPECT_EQ(Json::parse(devices_json(discovery_survey))["chosen"], "E:\\");
  // The device-facing outcome agrees with discovery's own.
  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.link_kind, kLinkDrive);
}

// Text from the device and the host reaches the console as printable ASCII alone, and the JSON as
// valid UTF-8, with exactly the keys the tool documents.
TEST(DevicesShown, DeviceTextIsMadeSafeAndTheJsonKeysAreFixed) {
  DiscoverySurvey survey{};
  survey.chosen_hid = -1;
  HidSurveyEntry hid{};
  const std::string odd = "N\x1b[2J\xff\xc3\xa9\x7f\x9bZ";
  odd.copy(hid.path.data(), hid.path.size() - 1);
  odd.copy(hid.name.data(), hid.name.size() - 1);
  hid.status = HidSurveyStatus::answered;
  survey.hid.push_back(hid);
  hid.status = HidSurveyStatus::not_opened;
  hid.access_denied = 1;
  std::string("Access is denied.\r\n").copy(hid.error_text.data(), hid.error_text.size() - 1);
  survey.hid.push_back(hid);
  VolumeSurveyEntry volume{};
  odd.copy(volume.root.data(), volume.root.size() - 1);
  odd.copy(volume.name.data(), volume.name.size() - 1);
  odd.copy(volume.label.data(), volume.label.size() - 1);
  volume.removable = 1;
  volume.reader = 1;
  volume.has_label = 1;
  survey.volumes.push_back(volume);
  survey.link_kind = kLinkDrive;
  survey.chosen_volume = 0;

  for (const ReportLine& line : devices_lines(survey)) {
    for (const char c : line.label + line.text) {
      EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << "byte " << static_cast<int>(static_cast<unsigned char>(c)) << " in "
                                          << line.text;
    }
  }
  const std::vector<std::string> lines = line_texts(devices_lines(survey));
  EXPECT_EQ(lines[0], "HID|N?[2J?????Z  answers \"N?[2J?????Z\"");
  EXPECT_EQ(lines[1], "HID|N?[2J?????Z  can not be opened: Access is denied.");
  EXPECT_EQ(lines[2].rfind(std::string("|") + kHint, 0), 0u);
  EXPECT_EQ(lines[3], "Volume|N?[2J?????Z  removable, reader \"N?[2J?????Z\", label \"N?[2J?????Z\"");
  EXPECT_EQ(lines[4], "Choice|N?[2J?????Z: the first removable volume with the reader's identity block");

  const Json json = Json::parse(devices_json(survey));  // throws on invalid UTF-8
  const std::string utf8 = "N\x1b[2J\xEF\xBF\xBD\xc3\xa9\x7f\xEF\xBF\xBDZ";
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"hid", "volumes", "chosen"}));
  const Json want = {
      {"hid",
       {{{"path", utf8}, {"name", utf8}, {"error", nullptr}},
        {{"path", utf8}, {"name", nullptr}, {"error", "Access is denied."}}}},
      {"volumes", {{{"root", utf8}, {"removable", true}, {"reader", true}, {"name", utf8}, {"label", utf8}}}},
      {"chosen", utf8},
  };
  EXPECT_EQ(json, want);
}

}  // namespace
}  // namespace cartdump::test

// The portable HID report link over the fake host side.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "link/hid_link.h"
#include "sim/device.h"
#include "tests/support/fake_hid.h"

namespace cartdump::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::vector<std::string> listed_paths() {
  std::vector<std::string> paths;
  for (const HidDeviceEntry* e = hid_list_at(0); e != nullptr; e = e->next) {
    paths.push_back(e->handle != nullptr ? fake_hid_path(e->handle) : "(closed)");
  }
  return paths;
}

class HidLink : public ::testing::Test {
 protected:
  void SetUp() override { fake_hid_reset(); }
  void TearDown() override {
    EXPECT_EQ(hid().lock_faults, 0) << "every lock taken was free, every lock let go was held";
    fake_hid_reset();
  }

  FakeHid& hid() { return fake_hid(); }
  // One interface, answered by the model device, opened as device 0.
  void open_model_device() {
    hid().interfaces = {{.path = "hid-0", .device = &device_}};
    ASSERT_EQ(hid_open_devices(1, 0x0483, 0x5750, -1, -1), 1);
  }

  sim::Device device_;
};

TEST_F(HidLink, EnumerationAppliesTheFiltersAndStopsAtMaxCount) {
  struct Case {
    const char* what;
    int max_count, vendor, product, usage_page, usage;
    std::vector<std::string> listed;
    size_t opened;  // interfaces opened to be checked: the walk ends at max_count
  };
  const Case cases[] = {
      {"discovery's filters", 1, 0x0483, 0x5750, -1, -1, {"dev-a"}, 2},
      {"filters of 0 match anything", 10, 0, 0, 0, 0, {"other-vendor", "dev-a", "dev-b", "keyboard"}, 4},
      {"two match, max_count 1: only the first", 1, 0x0483, -1, -1, -1, {"dev-a"}, 2},
      {"two match, max_count 2", 2, 0x0483, 0x5750, -1, -1, {"dev-a", "dev-b"}, 3},
      {"product", 9, -1, 0xC31C, -1, -1, {"keyboard"}, 4},
      {"usage page", 9, -1, -1, 0x0001, -1, {"keyboard"}, 4},
      {"usage", 9, 0x0483, 0x5750, 0xFF00, 0x0002, {"dev-b"}, 4},
      {"nothing matches", 9, 0x1111, -1, -1, -1, {}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_hid_reset();
    hid().interfaces = {
        {.path = "other-vendor", .vendor_id = 0x1234},
        {.path = "dev-a"},
        {.path = "dev-b", .usage = 0x0002},
        {.path = "keyboard", .vendor_id = 0x046D, .product_id = 0xC31C, .usage_page = 0x0001, .usage = 0x0006},
    };
    EXPECT_EQ(hid_open_devices(c.max_count, c.vendor, c.product, c.usage_page, c.usage),
              static_cast<int>(c.listed.size()));
    EXPECT_EQ(listed_paths(), c.listed);
    EXPECT_EQ(hid().opened.size(), c.opened);
    EXPECT_EQ(hid().open_handles, static_cast<int>(c.listed.size())) << "what did not match was closed";
  }
}

TEST_F(HidLink, InterfacesThatCannotBeOpenedOrDescribedAreSkipped) {
  hid().interfaces = {
      {.path = "no-path", .path_fails = true},
      {.path = "busy", .open_fails = true},
      {.path = "no-attributes", .attributes_fail = true},
      {.path = "no-caps", .caps_fail = true},
      {.path = "good"},
  };
  EXPECT_EQ(hid_open_devices(5, 0x0483, 0x5750, -1, -1), 1);
  EXPECT_EQ(listed_paths(), std::vector<std::string>{"good"});
  EXPECT_EQ(hid().open_handles, 1);
  // Failures while enumerating print nothing; a set that cannot be had lists nothing.
  hid().set_unavailable = true;
  CaptureStdout();
  EXPECT_EQ(hid_open_devices(5, 0, 0, 0, 0), 0);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(hid().open_handles, 0);
}

TEST_F(HidLink, EveryEnumerationEmptiesTheListFirst) {
  hid().interfaces = {{.path = "a"}, {.path = "b"}};
  // max_count 0 creates no link state and does not even enumerate.
  EXPECT_EQ(hid_open_devices(0, -1, -1, -1, -1), 0);
  EXPECT_EQ(hid().link_states_created, 0);
  EXPECT_EQ(hid().enumerations, 0);

  EXPECT_EQ(hid_open_devices(2, -1, -1, -1, -1), 2);
  EXPECT_EQ(hid_open_devices(2, -1, -1, -1, -1), 2);
  EXPECT_EQ(hid().open_handles, 2) << "the first call's handles were closed";
  // The link state lives for the process: created by whichever test enumerated first.
  EXPECT_LE(hid().link_states_created, 1) << "the link state is created once";

  EXPECT_EQ(hid_open_devices(0, -1, -1, -1, -1), 0);
  EXPECT_EQ(hid_list_at(0), nullptr);
  EXPECT_EQ(hid().open_handles, 0);
}

TEST_F(HidLink, ListWalksFromTheHead) {
  // Entries as hid_open_devices makes them: on the heap, owned by the list from here on.
  std::array<HidDeviceEntry*, 3> entries{};
  for (HidDeviceEntry*& e : entries) {
    e = new HidDeviceEntry{};
    hid_list_append(e);
  }
  EXPECT_EQ(hid_list_at(-5), entries[0]) << "an index of 0 or less gives the head";
  EXPECT_EQ(hid_list_at(0), entries[0]);
  EXPECT_EQ(hid_list_at(2), entries[2]);
  EXPECT_EQ(hid_list_at(3), nullptr);
  EXPECT_EQ(entries[0]->prev, nullptr);
  EXPECT_EQ(entries[1]->prev, entries[0]);
  EXPECT_EQ(entries[1]->next, entries[2]);
  EXPECT_EQ(entries[2]->next, nullptr);
  hid_list_clear();
  EXPECT_EQ(hid_list_at(0), nullptr);
}

TEST_F(HidLink, WriteSendsReportIdZeroAndThePayloadUnderTheWriteLock) {
  open_model_device();
  std::array<uint8_t, 64> payload{};
  payload[0] = 0x17;
  payload[1] = 0x34;
  payload[63] = 0x99;
  EXPECT_EQ(hid_write_report(0, payload.data(), 64, 100), 64);
  ASSERT_EQ(hid().transfers.size(), 1u);
  const FakeTransferRecord& t = hid().transfers[0];
  EXPECT_EQ(t.direction, HidDirection::write);
  EXPECT_EQ(t.length, 65u);
  EXPECT_EQ(t.timeout_ms, 100u);
  ASSERT_EQ(t.report.size(), 65u);
  EXPECT_EQ(t.report[0], 0) << "report id";
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), t.report.begin() + 1));
  EXPECT_TRUE(t.own_lock_held);
  EXPECT_FALSE(t.other_lock_held);
  EXPECT_FALSE(fake_hid_lock_held(HidDirection::write));
  ASSERT_EQ(device_.service.hid_log.size(), 1u);
  EXPECT_EQ(device_.service.hid_log[0].address, 0x34u);
}

TEST_F(HidLink, ReadOutcomes) {
  struct Case {
    const char* what;
    FakeTransfer behaviour;
    int result;
    bool answered;  // the destination holds the device's answer
    const char* printed;
  };
  const Case cases[] = {
      {"an answer", FakeTransfer::normal, 64, true, ""},
      {"a 65-byte report to a 64-byte read", FakeTransfer::oversize, 64, true, ""},
      {"a report of the report id alone", FakeTransfer::id_only, 0, false, ""},
      {"no answer in time", FakeTransfer::time_out, 0, false, ""},
      {"a count of 0", FakeTransfer::nothing, -1, false, ""},
      {"a failed transfer", FakeTransfer::fail, -1, false, "err 1167: The device is not connected.\n"},
  };
  open_model_device();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::array<uint8_t, 64> query{0x10};
    ASSERT_EQ(hid_write_report(0, query.data(), 64, 100), 64);  // the device has its answer ready
    hid().transfers.clear();
    hid().coming = {c.behaviour};
    // The destination is followed by guard bytes that no read may reach.
    std::array<uint8_t, 64 + 8> destination;
    destination.fill(0xEE);
    CaptureStdout();
    EXPECT_EQ(hid_read_report(0, destination.data(), 64, 100), c.result);
    EXPECT_EQ(GetCapturedStdout(), c.printed);
    if (c.answered) {
      EXPECT_TRUE(std::equal(device_.config.device_id.begin(), device_.config.device_id.end(), destination.begin()));
    }
    EXPECT_TRUE(std::all_of(destination.begin() + 64, destination.end(), [](uint8_t b) { return b == 0xEE; }));
    ASSERT_EQ(hid().transfers.size(), 1u);
    EXPECT_EQ(hid().transfers[0].length, 65u);
    EXPECT_TRUE(hid().transfers[0].own_lock_held);
    EXPECT_FALSE(hid().transfers[0].other_lock_held);
    EXPECT_FALSE(fake_hid_lock_held(HidDirection::read)) << "the lock is let go on every path";
  }
}

TEST_F(HidLink, AFailedTransferPrintsOneLineAndTheNextOneProceeds) {
  open_model_device();
  const std::array<uint8_t, 64> report{0x12};
  for (HidDirection direction : {HidDirection::write, HidDirection::read}) {
    SCOPED_TRACE(direction == HidDirection::write ? "write" : "read");
    hid().coming = {FakeTransfer::fail};
    std::array<uint8_t, 64> reply{};
    CaptureStdout();
    const int failed = direction == HidDirection::write ? hid_write_report(0, report.data(), 64, 100)
                                                        : hid_read_report(0, reply.data(), 64, 100);
    EXPECT_EQ(failed, -1);
    EXPECT_EQ(GetCapturedStdout(), "err 1167: The device is not connected.\n");
    EXPECT_FALSE(fake_hid_lock_held(direction));
  }
  // Both directions go on working.
  const std::array<uint8_t, 64> name{0x11};
  EXPECT_EQ(hid_write_report(0, name.data(), 64, 100), 64);
  std::array<uint8_t, 64> reply{};
  EXPECT_EQ(hid_read_report(0, reply.data(), 64, 100), 64);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), device_.config.name);
}

TEST_F(HidLink, WriteResultsFollowTheTransfer) {
  open_model_device();
  const std::array<uint8_t, 64> report{0x12};
  const std::pair<FakeTransfer, int> cases[] = {
      {FakeTransfer::time_out, 0},
      {FakeTransfer::nothing, -1},
      {FakeTransfer::normal, 64},
  };
  for (const auto& [behaviour, result] : cases) {
    SCOPED_TRACE(result);
    hid().coming = {behaviour};
    EXPECT_EQ(hid_write_report(0, report.data(), 64, 100), result);
    EXPECT_FALSE(fake_hid_lock_held(HidDirection::write));
  }
}

TEST_F(HidLink, PayloadsUpTo515BytesGoOut) {
  open_model_device();
  std::vector<uint8_t> buffer(516, 0x42);
  EXPECT_EQ(hid_write_report(0, buffer.data(), 515, 100), 515);
  ASSERT_EQ(hid().transfers.size(), 1u);
  EXPECT_EQ(hid().transfers[0].length, 516u);
  hid().coming = {FakeTransfer::id_only};
  EXPECT_EQ(hid_read_report(0, buffer.data(), 515, 100), 0);
  EXPECT_EQ(hid().transfers.back().length, 516u);

  // 516 bytes of payload would need 517 with the report id: refused before anything is locked.
  hid().transfers.clear();
  EXPECT_EQ(hid_write_report(0, buffer.data(), 516, 100), -1);
  EXPECT_EQ(hid_read_report(0, buffer.data(), 516, 100), -1);
  EXPECT_TRUE(hid().transfers.empty());
}

TEST_F(HidLink, UnlistedOrClosedDevicesRefuseTransfersSilently) {
  hid().interfaces = {{.path = "a", .device = &device_}, {.path = "b", .device = &device_}};
  ASSERT_EQ(hid_open_devices(2, -1, -1, -1, -1), 2);
  std::array<uint8_t, 64> report{0x10};
  hid_close_device(1);
  hid_close_device(1);  // a second close does nothing
  EXPECT_EQ(hid().open_handles, 1);
  ASSERT_NE(hid_list_at(1), nullptr) << "a closed device stays listed";
  EXPECT_EQ(hid_list_at(1)->open, 0);
  EXPECT_EQ(hid_list_at(1)->handle, nullptr);

  CaptureStdout();
  EXPECT_EQ(hid_write_report(1, report.data(), 64, 100), -1);
  EXPECT_EQ(hid_read_report(1, report.data(), 64, 100), -1);
  EXPECT_EQ(hid_write_report(2, report.data(), 64, 100), -1);
  EXPECT_EQ(hid_read_report(7, report.data(), 64, 100), -1);
  hid_close_device(7);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_TRUE(hid().transfers.empty());

  EXPECT_EQ(hid_write_report(0, report.data(), 64, 100), 64) << "device 0 is still open";
  hid_list_clear();
  EXPECT_EQ(hid().open_handles, 0);
}

TEST_F(HidLink, ExchangeGivesWhatTheReadGave) {
  open_model_device();
  const std::array<uint8_t, 64> name_query{0x11};
  std::array<uint8_t, 64> reply{};
  EXPECT_EQ(hid_exchange(name_query.data(), reply.data()), 64);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), device_.config.name);
  hid().coming = {FakeTransfer::normal, FakeTransfer::fail};
  CaptureStdout();
  EXPECT_EQ(hid_exchange(name_query.data(), reply.data()), -1);
  EXPECT_EQ(GetCapturedStdout(), "err 1167: The device is not connected.\n");
}

// A run whose standard output carries data alone sends the error lines to standard error.
TEST_F(HidLink, ErrorLinesGoWhereTheRunSendsThem) {
  open_model_device();
  const std::array<uint8_t, 64> report{0x12};
  for (const int to_stderr : {1, 0}) {
    SCOPED_TRACE(to_stderr);
    hid_set_error_stream(to_stderr);
    hid().coming = {FakeTransfer::fail};
    CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(hid_write_report(0, report.data(), 64, 100), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(to_stderr ? err : out, "err 1167: The device is not connected.\n");
    EXPECT_EQ(to_stderr ? out : err, "");
  }
}

TEST_F(HidLink, ExchangeClearsTheReplyWhenNothingComes) {
  hid().interfaces = {{.path = "silent"}};  // a device that never answers
  ASSERT_EQ(hid_open_devices(1, -1, -1, -1, -1), 1);
  std::array<uint8_t, 64> report{0x13};
  std::array<uint8_t, 64> reply;
  reply.fill(0xAB);
  EXPECT_EQ(hid_exchange(report.data(), reply.data()), 0) << "what the read gave: no reply in time";
  EXPECT_EQ(reply, (std::array<uint8_t, 64>{}));
  ASSERT_EQ(hid().transfers.size(), 2u);
  EXPECT_EQ(hid().transfers[0].direction, HidDirection::write);
  EXPECT_EQ(hid().transfers[1].direction, HidDirection::read);
  EXPECT_EQ(hid().transfers[1].timeout_ms, 100u);
}

}  // namespace
}  // namespace cartdump::test

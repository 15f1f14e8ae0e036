// The HID report link over the real Windows host side. No HID device is present where the tests
// run (Wine lists none), so the enumeration is tested for what it finds then; the transfers are
// tested on a named pipe, which the host side opens exactly as it opens a HID device path (an
// overlapped file for reading and writing) and whose server end plays the device.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/hid_backend.h"
#include "link/hid_link.h"

namespace cartdump {
namespace {

TEST(HidWin32, EnumeratingForAnAbsentDeviceListsNothing) {
  EXPECT_EQ(hid_open_devices(1, 0xFFFE, 0xFFFE, -1, -1), 0);
  EXPECT_EQ(hid_list_at(0), nullptr);
  uint8_t report[64] = {0x10};
  EXPECT_EQ(hid_write_report(0, report, 64, 100), -1);
  EXPECT_EQ(hid_read_report(0, report, 64, 100), -1);
}

TEST(HidWin32, ErrorTextsComeFromTheSystem) {
  std::array<char, 256> text{};
  hid_backend_error_text(ERROR_FILE_NOT_FOUND, text.data(), static_cast<uint32_t>(text.size()));
  EXPECT_GT(std::string(text.data()).size(), 2u);
  // A code the system has no message for gives an empty text.
  text.fill('x');
  hid_backend_error_text(0x3FFFFFF0, text.data(), static_cast<uint32_t>(text.size()));
  EXPECT_STREQ(text.data(), "");
  // A buffer too small for the text is still left terminated within its size.
  std::array<char, 8> small{};
  small.fill('x');
  hid_backend_error_text(ERROR_FILE_NOT_FOUND, small.data(), static_cast<uint32_t>(small.size()));
  EXPECT_LT(std::string(small.data(), small.size()).find('\0'), small.size());
}

// A failed open gives the system's code; ERROR_ACCESS_DENIED is refused access (n64dump --devices
// adds a hint for it). An enumeration that lists no interface tells no ids.
TEST(HidWin32, AFailedOpenGivesTheSystemsCode) {
  EXPECT_EQ(hid_backend_open("\\\\.\\cartdump-no-such-device"), nullptr);
  EXPECT_EQ(hid_backend_error_code(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(hid_backend_access_denied(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(hid_backend_access_denied(ERROR_ACCESS_DENIED));
  HidInterfaceSet* set = hid_backend_open_set();
  ASSERT_NE(set, nullptr);
  std::array<char, kHidPathCapacity> path{};
  uint32_t index = 0;
  while (hid_backend_interface_path(set, index, path.data(), kHidPathCapacity) != HidInterfaceStatus::end) ++index;
  uint16_t vendor = 0;
  uint16_t product = 0;
  EXPECT_FALSE(hid_backend_interface_ids(set, index, vendor, product));
  hid_backend_close_set(set);
}

class HidOverPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    // An enumeration first, as in the system: it creates the link state, the events and locks.
    ASSERT_EQ(hid_open_devices(1, 0xFFFE, 0xFFFE, -1, -1), 0);
    name_ = "\\\\.\\pipe\\cartdump-hid-" + std::to_string(::GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    server_ = ::CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE) << ::GetLastError();
    HidBackendDevice* device = hid_backend_open(name_.c_str());
    ASSERT_NE(device, nullptr) << hid_backend_error_code();
    hid_list_append(new HidDeviceEntry{device, 1, nullptr, nullptr});
  }

  void TearDown() override {
    hid_list_clear();
    device_gone();
  }

  // The device sends one input report.
  void device_sends(const std::vector<uint8_t>& report) {
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(server_, report.data(), static_cast<DWORD>(report.size()), &written, nullptr));
    ASSERT_EQ(written, report.size());
  }

  // The next output report that reached the device.
  std::vector<uint8_t> device_receives() {
    std::vector<uint8_t> report(1024);
    DWORD got = 0;
    EXPECT_TRUE(::ReadFile(server_, report.data(), static_cast<DWORD>(report.size()), &got, nullptr));
    report.resize(got);
    return report;
  }

  void device_gone() {
    if (server_ != INVALID_HANDLE_VALUE) {
      ::CloseHandle(server_);
      server_ = INVALID_HANDLE_VALUE;
    }
  }

  std::string name_;
  HANDLE server_ = INVALID_HANDLE_VALUE;
};

std::vector<uint8_t> counting(uint8_t first, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

TEST_F(HidOverPipe, AWrittenReportIsReportIdZeroAndThePayload) {
  const std::vector<uint8_t> payload = counting(1, 64);
  EXPECT_EQ(hid_write_report(0, payload.data(), 64, 100), 64);
  std::vector<uint8_t> expected{0};
  expected.insert(expected.end(), payload.begin(), payload.end());
  EXPECT_EQ(device_receives(), expected);
}

TEST_F(HidOverPipe, AReadReportArrivesWithoutItsReportId) {
  std::vector<uint8_t> report{0x00};
  const std::vector<uint8_t> payload = counting(0x40, 64);
  report.insert(report.end(), payload.begin(), payload.end());
  device_sends(report);
  std::vector<uint8_t> reply(64, 0);
  EXPECT_EQ(hid_read_report(0, reply.data(), 64, 1000), 64);
  EXPECT_EQ(reply, payload);
}

// A read that times out is cancelled before the call returns: it takes nothing into the
// destination, and the report that comes later goes whole to the next read instead of into the
// abandoned transfer.
TEST_F(HidOverPipe, ATimedOutReadIsCancelledAndTheNextReadGetsTheNextReport) {
  std::vector<uint8_t> reply(64, 0xAA);
  EXPECT_EQ(hid_read_report(0, reply.data(), 64, 50), 0);
  EXPECT_EQ(reply, std::vector<uint8_t>(64, 0xAA));

  std::vector<uint8_t> report{0x00};
  const std::vector<uint8_t> payload = counting(7, 64);
  report.insert(report.end(), payload.begin(), payload.end());
  device_sends(report);
  EXPECT_EQ(hid_read_report(0, reply.data(), 64, 1000), 64);
  EXPECT_EQ(reply, payload);
}

// A device that went away: each failed transfer prints one "err <code>: <text>" line with the
// system's code and message, and the next transfer in the same direction is still attempted.
TEST_F(HidOverPipe, ATransferOnAGoneDeviceFailsWithTheSystemsErrorLine) {
  device_gone();
  std::array<char, 256> text{};
  hid_backend_error_text(ERROR_BROKEN_PIPE, text.data(), static_cast<uint32_t>(text.size()));
  const std::string line = "err " + std::to_string(ERROR_BROKEN_PIPE) + ": " + text.data() + "\n";

  std::vector<uint8_t> reply(64, 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    ::testing::internal::CaptureStdout();
    const int result = hid_read_report(0, reply.data(), 64, 100);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed, line);
  }
}

}  // namespace
}  // namespace cartdump

// The host fakes themselves: a breach of the host's contract by the code above them is a failure of
// the running test (fake_breach_gtest.cpp), and the fake answers it with a failure result.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "link/drive_walk.h"
#include "link/file_io.h"
#include "link/hid_backend.h"
#include "tests/support/fake_drive_walk.h"
#include "tests/support/fake_hid.h"
#include "tests/support/memory_drive.h"

namespace cartdump::test {
namespace {

class FakeHost : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_hid_reset();
    memory_drive_reset();
    fake_drive_walk_reset();
  }
  void TearDown() override { SetUp(); }
};

TEST_F(FakeHost, ABrokenContractFailsTheTest) {
  std::array<uint8_t, 65> report{};
  std::array<char, 8> label{};
  struct Case {
    const char* breach;
    std::function<void()> run;
  };
  const Case cases[] = {
      {"a lock taken twice",
       [] {
         hid_backend_lock(HidDirection::read);
         hid_backend_lock(HidDirection::read);
       }},
      {"a lock let go that was not held", [] { hid_backend_unlock(HidDirection::write); }},
      {"an interface path that was never handed out: nowhere", [] { EXPECT_EQ(hid_backend_open("nowhere"), nullptr); }},
      {"a null handle closed", [] { hid_backend_close(nullptr); }},
      {"a transfer on a null handle",
       [&] {
         EXPECT_EQ(hid_backend_transfer(nullptr, HidDirection::read, report.data(), 65, 10).status, HidTransferStatus::failed);
       }},
      {"a transfer outside its direction's lock",
       [&] {
         fake_hid().interfaces = {{.path = "hid-0"}};
         HidBackendDevice* device = hid_backend_open("hid-0");
         hid_backend_transfer(device, HidDirection::write, report.data(), 65, 10);
         hid_backend_close(device);
       }},
      {"write_whole_file source: null for 512 bytes", [] { EXPECT_EQ(write_whole_file("E:\\CMD.CMD", nullptr, 512), 0); }},
      {"a label buffer of 0 bytes", [&] { EXPECT_FALSE(drive_walk_label(DriveVolume{}, label.data(), 0)); }},
      {"a lock still held after the call",
       [] {
         hid_backend_lock(HidDirection::write);
         fake_hid_check_settled(0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.breach);
    EXPECT_NONFATAL_FAILURE(c.run(), c.breach);
    fake_hid_reset();
  }
  EXPECT_TRUE(memory_drive_calls().empty()) << "a refused write is not carried out";
}

}  // namespace
}  // namespace cartdump::test

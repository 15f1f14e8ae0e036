#include "tests/support/device_test.h"

#include "tests/support/fake_hid.h"

namespace cartdump::test {

void DeviceTest::SetUp() {
  memory_drive_reset();
  device_state = DeviceState{};
  configure(config);
  restart();
}

void DeviceTest::TearDown() {
  memory_drive_reset();
  device_state = DeviceState{};
}

void DeviceTest::restart() {
  device_ = std::make_unique<sim::Device>(config);
  memory_drive_attach(device_.get(), root);
  set_drive_root(root);
}

void DeviceTest::clear_record() {
  device().log.clear();
  memory_drive_calls().clear();
}

void DiscoveryTest::SetUp() {
  DeviceTest::SetUp();
  fake_hid_reset();
  fake_drive_walk_reset();
  device_state = DeviceState{};
}

void DiscoveryTest::TearDown() {
  fake_hid_reset();
  fake_drive_walk_reset();
  DeviceTest::TearDown();
}

}  // namespace cartdump::test

#include "tests/support/device_test.h"

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

}  // namespace cartdump::test

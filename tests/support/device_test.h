// A fixture with a model device on the in-memory drive, attached at the Windows-style root "E:\\",
// and that root in the DeviceState. A fixture configures its device by overriding configure(); a
// test that needs another device changes config and calls restart().
//
// DiscoveryTest is the same for discovery: the fake HID host side and the fake volume list start
// empty, and the DeviceState clear (discovery starts from a clean record, not the fixture's root).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/device_state.h"
#include "sim/device.h"
#include "tests/support/fake_drive_walk.h"
#include "tests/support/memory_drive.h"

namespace cartdump::test {

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  virtual void configure(sim::DeviceConfig& device_config) { (void)device_config; }
  // A fresh device from config, attached at root, with root in the DeviceState.
  void restart();
  sim::Device& device() { return *device_; }
  // The accepted and rejected sectors so far, and the calls of the file primitives.
  const std::vector<sim::SectorRecord>& commands() { return device().log; }
  std::vector<FileCall>& calls() { return memory_drive_calls(); }
  // Forgets the sectors and calls so far, so a test sees only what the operation under test did.
  void clear_record();

  sim::DeviceConfig config;
  std::string root = "E:\\";

 private:
  std::unique_ptr<sim::Device> device_;
};

class DiscoveryTest : public DeviceTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The host's volumes, as the fake volume list gives them.
  std::vector<FakeVolume>& volumes() { return fake_drive_walk().volumes; }
};

}  // namespace cartdump::test

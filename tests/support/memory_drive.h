// The in-memory drive of the unit tests. memory_drive.cpp provides the system's two file
// primitives in place of the platform's file: paths under the attached root reach the device
// model's three files, every other path an in-memory directory. Each primitive call is recorded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/device_link.h"
#include "link/device_state.h"
#include "sim/device.h"

namespace cartdump::test {

struct FileCall {
  bool write = false;
  std::string path;
  uint32_t offset = 0;
  uint32_t length = 0;
  int result = 0;
};

// The device's files appear under root ("CMD.CMD", "T-DRIVER.DMP", "DUMP.ROM"); nullptr detaches it,
// so that those names become missing files.
void memory_drive_attach(sim::Device* device, const std::string& root);
// The drive is gone (or back): every path under the root can be neither created nor opened.
void memory_drive_unplug(bool unplugged);
// Detaches the device and empties the in-memory directory and the call record.
void memory_drive_reset();
// Files outside the device, by full path.
std::map<std::string, std::vector<uint8_t>>& memory_files();
std::vector<FileCall>& memory_drive_calls();

// Sets the DeviceState's drive root.
void set_drive_root(const std::string& root);

// A fixture with a device attached at the Windows-style root "E:\\", and that root in the
// DeviceState. A fixture configures its device by overriding configure(); a test that needs
// another device changes config and calls restart().
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

}  // namespace cartdump::test

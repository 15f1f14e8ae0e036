// Helpers shared by the command group tests: sectors of the last command file, data patterns, and
// a fixture whose scrambling state starts and ends at its start-up value.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "link/sector.h"
#include "tests/support/device_test.h"
#include "tests/support/scrambling_state.h"
#include "tests/support/sector_bytes.h"

namespace cartdump::test {

inline std::vector<uint8_t> random_bytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data(size);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random() % 255);  // never 0xFF
  return data;
}

class GroupTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    reset_scrambling_state();
    device_state.device_id = config.device_id;
  }
  void TearDown() override {
    reset_scrambling_state();
    DeviceTest::TearDown();
  }
  size_t sector_count() { return device().command_file.size() / kSectorSize; }
  // Sector k of the last command file, as framed and sent.
  std::vector<uint8_t> sector(size_t k) { return sent_sector(device(), k); }
};

}  // namespace cartdump::test

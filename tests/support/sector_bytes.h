// Checks of the bytes a command operation put into its sectors.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "link/sector.h"
#include "sim/device.h"

namespace cartdump::test {

// Sector k of the device's last command file.
inline std::vector<uint8_t> sent_sector(const sim::Device& device, size_t k) {
  const auto& file = device.command_file;
  if ((k + 1) * kSectorSize > file.size()) {
    ADD_FAILURE() << "the command file holds no sector " << k;
    return std::vector<uint8_t>(kSectorSize, 0);
  }
  return {file.begin() + static_cast<std::ptrdiff_t>(k * kSectorSize),
          file.begin() + static_cast<std::ptrdiff_t>((k + 1) * kSectorSize)};
}

using ByteAt = std::pair<size_t, uint8_t>;

// Bytes 1-509 of the sector are exactly the listed bytes, every other one zero; byte 0 is the
// marker. The CRC is the device model's to check.
inline void expect_sector(const std::vector<uint8_t>& sector, std::initializer_list<ByteAt> bytes) {
  std::vector<uint8_t> expected(kSectorCrcOffset, 0);
  expected[0] = kSectorMarker;
  for (const ByteAt& b : bytes) {
    expected[b.first] = b.second;
  }
  for (size_t i = 0; i < kSectorCrcOffset; ++i) {
    EXPECT_EQ(sector[i], expected[i]) << "sector byte " << i;
  }
}

// Expects sector bytes [offset, offset + n) to equal data and the rest up to the CRC to be zero.
inline void expect_payload(const std::vector<uint8_t>& sector, size_t offset, const uint8_t* data, size_t n) {
  EXPECT_TRUE(std::equal(sector.begin() + static_cast<std::ptrdiff_t>(offset),
                         sector.begin() + static_cast<std::ptrdiff_t>(offset + n), data));
  for (size_t i = offset + n; i < kSectorCrcOffset; ++i) {
    ASSERT_EQ(sector[i], 0) << "sector byte " << i << " after the payload";
  }
}

}  // namespace cartdump::test

// Checks of the bytes a command operation put into its sectors and of the sectors the device took,
// and the data the tests send.
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

// Bytes that differ from their neighbours and from a shifted copy of themselves, so that a test
// sees which byte went where; two seeds give two different patterns.
inline std::vector<uint8_t> byte_pattern(size_t size, uint8_t seed = 0) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) {
    data[i] = static_cast<uint8_t>(i * 251 + seed + (i >> 8));
  }
  return data;
}

// One sector as the device took it: its address and length fields.
struct Sent {
  uint32_t address;
  uint32_t length;
};

// The device took exactly these sectors of group and command, all accepted.
inline void expect_sent(const std::vector<sim::SectorRecord>& log, uint8_t group, uint8_t command,
                        const std::vector<Sent>& sent) {
  ASSERT_EQ(log.size(), sent.size());
  for (size_t k = 0; k < sent.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(log[k].group, group);
    EXPECT_EQ(log[k].command, command);
    EXPECT_EQ(log[k].outcome, sim::Outcome::accepted);
    EXPECT_EQ(log[k].address, sent[k].address);
    EXPECT_EQ(log[k].length, sent[k].length);
  }
}

}  // namespace cartdump::test

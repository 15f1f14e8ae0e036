// Group 0x0E on the device: two byte-wide memory spaces of 64 KiB, erased to 0xFF.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/scrambling.h"

namespace cartdump::sim {

inline constexpr uint32_t kSpace0eSize = 0x10000;

struct Group0eModel {
  // Space 0: read by 0x04 and 0x13, written by 0x05, 0x09 and 0x80.
  // Space 1: read by 0x07, written by 0x06, 0x08 and 0x0A.
  std::array<std::vector<uint8_t>, 2> spaces{std::vector<uint8_t>(kSpace0eSize, 0xFF),
                                             std::vector<uint8_t>(kSpace0eSize, 0xFF)};
  std::array<uint16_t, 4> values{};  // carried by 0x0B
  bool scrambling_ready = false;     // set by 0x01; status bit 0
  DeviceCipher cipher;
};

}  // namespace cartdump::sim

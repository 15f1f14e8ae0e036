// Group 0x0E on the device: two byte-wide memory spaces of 64 KiB, erased to 0xFF, addresses
// wrapping within 16 bits. Sector fields: entry count at 3, address at 4-5, length at 8-9,
// payload from 12.
//   0x01 sets up the scrambling (status bit 0)     0x0B takes four values at 12, 16, 20 and 24
//   0x04 / 0x07 read space 0 / 1                   0x12 replies the status byte
//   0x05 / 0x08 write space 0 / 1                  0x13 writes its (address, value) entries into
//   0x06 writes space 1                                 space 0, then reads space 0
//   0x09 / 0x0A scrambled write to space 0 / 1     0x80 writes space 0 (blank chunks never arrive;
//                                                       the space is erased, so they read as 0xFF)
// Writes store at most the 498 payload bytes; command 0x13's list holds at most 124 entries of
// 4 bytes (address at 0-1, value at 2). A scrambled write's first 8 payload bytes are undone
// before they are stored: with Blowfish keyed by the DeviceId when the identity block begins "NES",
// else with the XOR key at identity bytes 512-519, the two ways the host chooses between by
// reading the same block.
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

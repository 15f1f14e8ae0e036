// Group 0x13 on the device: a byte-addressed memory over the whole 32-bit range, erased to 0xFF,
// kept as the pages that were written.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "sim/scrambling.h"

namespace cartdump::sim {

struct Group13Model {
  static constexpr uint32_t kPageSize = 4096;
  std::map<uint32_t, std::vector<uint8_t>> pages;  // by address / kPageSize
  bool ready = false;                              // set by 0x01
  DeviceCipher cipher;

  uint8_t read(uint32_t address) const;
  void write(uint32_t address, uint8_t value);
};

}  // namespace cartdump::sim

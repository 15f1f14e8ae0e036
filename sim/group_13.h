// Group 0x13 on the device: a byte-addressed memory over the whole 32-bit range, erased to 0xFF,
// kept as the pages that were written, which holds 16-bit words high byte first. Sector fields:
// address at 3-6, length at 7-8, payload from 9.
//   0x01 prepares the memory
//   0x03 reads length bytes from a byte address (at most the 8192-byte reply area)
//   0x05 writes length bytes (a word high byte first when length is 2) to a word address
//   0x06 writes one word, sent low byte first, to a word address
//   0x07 / 0x08 write as 0x05 after undoing the Blowfish scrambling of the first 8 payload bytes,
//        keyed by the DeviceId (0x08 is the skip-blank write: blank chunks never arrive, and the
//        memory is erased, so they read back as 0xFF)
// Writes store at most 500 payload bytes and count their address in words: byte address =
// 2 * word address (modulo 2^32).
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

// One access of a cartridge bus as the device model carried it out: a byte written at an address,
// or a byte read there and the value it answered. Groups that drive command cycles keep a
// transcript of these, so that tests can compare the exact order and values of a sequence.
#pragma once

#include <cstdint>
#include <ostream>

namespace cartdump::sim {

struct BusAccess {
  uint32_t address = 0;
  uint8_t value = 0;
  bool read = false;

  bool operator==(const BusAccess&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const BusAccess& access) {
  const auto flags = out.flags();
  out << std::hex << "0x" << access.address << (access.read ? " -> 0x" : " <- 0x") << unsigned{access.value};
  out.flags(flags);
  return out;
}

}  // namespace cartdump::sim

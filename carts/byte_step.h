// One step of a fixed command sequence: a single byte written at a device address. A sequence is a
// constexpr table of steps, walked in order by one loop that sends each step as its own command.
#pragma once

#include <cstdint>

namespace cartdump {

struct ByteStep {
  uint32_t address;
  uint8_t value;
};

}  // namespace cartdump

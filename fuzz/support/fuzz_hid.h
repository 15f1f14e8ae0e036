// What the HID fuzz targets share in making up the fake HID host side from their input.
#pragma once

#include <cstdint>

#include "tests/support/fake_hid.h"

namespace cartdump::fuzz {

// Sets the interface's four failures from one input byte: each when both of its two bits are set,
// so that each comes about one time in four.
inline void set_interface_faults(test::FakeHidInterface& entry, uint8_t faults) {
  entry.path_fails = (faults & 0x11) == 0x11;
  entry.open_fails = (faults & 0x22) == 0x22;
  entry.attributes_fail = (faults & 0x44) == 0x44;
  entry.caps_fail = (faults & 0x88) == 0x88;
}

}  // namespace cartdump::fuzz

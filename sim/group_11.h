// Group 0x11 on the device: single-byte writes at 24-bit addresses into the memory that the dump
// file ("DUMP.ROM") presents, so a byte written at address a reads back at offset a of the dump
// file (addresses past the dump file's end are recorded but land nowhere).
//   0x01 prepare; 0x02 write: 24-bit address at 3-5, the byte at 6.
// Every write is kept in writes, in order, so the fixed sequences can be compared step by step.
#pragma once

#include <vector>

#include "sim/bus_access.h"

namespace cartdump::sim {

struct ByteWriter {
  bool ready = false;  // set by command 0x01
  std::vector<BusAccess> writes;
};

}  // namespace cartdump::sim

// A list of (address, value) entries in a command sector, as some commands carry them: entry i
// at first + i * size, with the address (and a second field cut from it, if any) and the value at
// their places within the entry.
#pragma once

#include <cstdint>

#include "link/command_patterns.h"
#include "link/sector.h"

namespace cartdump {

struct EntryList {
  uint16_t first = 0;  // where entry 0 begins in the sector
  uint16_t size = 0;   // bytes per entry
  SectorField address;
  SectorField upper_address;
  SectorField value;
};

// Whether capacity entries end at or before byte 509, before the CRC.
constexpr bool entry_list_fits(const EntryList& list, uint32_t capacity) {
  return list.first + capacity * list.size <= kSectorCrcOffset;
}

// Puts entry index of the list into sector.
inline void put_entry(uint8_t* sector, const EntryList& list, uint32_t index, uint32_t address, uint8_t value) {
  uint8_t* entry = sector + list.first + index * list.size;
  put_field(entry, list.address, address);
  put_field(entry, list.upper_address, address);
  put_field(entry, list.value, value);
}

}  // namespace cartdump

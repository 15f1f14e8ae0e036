#include "sim/group_11.h"

#include "sim/device.h"

namespace cartdump::sim {

bool execute_group_11(Device& device, const uint8_t* sector, SectorRecord& record) {
  switch (sector[2]) {
    case 0x01:
      device.g11.ready = true;
      return true;
    case 0x02: {
      record.address = sector_field(sector, 3, 3);
      record.length = 1;
      const uint8_t value = sector[6];
      device.g11.writes.push_back({record.address, value});
      if (record.address < device.dump_file.size()) {
        device.dump_file[record.address] = value;
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace cartdump::sim

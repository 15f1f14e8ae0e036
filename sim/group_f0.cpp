// Group 0xF0 on the device: its own service commands.
//   0x04 identity request: the DeviceId is the reply, at offset 0.
#include "sim/device.h"

namespace cartdump::sim {

bool execute_group_f0(Device& device, const uint8_t* sector, SectorRecord& record) {
  (void)record;
  switch (sector[2]) {
    case 0x04:
      device.put_reply(device.config.device_id.data(), device.config.device_id.size());
      return true;
    default:
      return false;
  }
}

}  // namespace cartdump::sim

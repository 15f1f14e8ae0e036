// Group 0xF0 on the device: its own service commands, and the service effects its HID face shares.
//   0x04 identity request: the DeviceId is the reply, at offset 0.
//   0x07 arms a reboot with the flag at byte 3; 0xFF then performs it (into boot mode when the
//        flag is non-zero): the name gets "BOOT" in front, in the identity block too. Both
//        record the flag bytes 3 and 4 as their address (byte 3 low).
//   0x0A counted.
//   0xE0 address command: the 32-bit address at 3-6, recorded.
//   0xE2 read value: the 32 bits at the address (3-6) are the reply, little-endian.
//   0xE4 write block: address at 3-6, length (at most 256) at 7-8, data from byte 12.
#include <algorithm>

#include "sim/device.h"

namespace cartdump::sim {

void service_reboot(Device& device, bool into_boot_mode) {
  ++device.service.reboots;
  device.service.reboot_armed.reset();
  device.service.hid_reply.reset();
  device.config.boot = into_boot_mode;
  device.write_identity_block();
}

uint32_t service_read_value(const Device& device, uint32_t address) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < 4; ++i) {
    const auto it = device.service.memory.find(address + i);
    value |= static_cast<uint32_t>(it != device.service.memory.end() ? it->second : 0) << (8 * i);
  }
  return value;
}

void service_write(Device& device, uint32_t address, const uint8_t* data, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    device.service.memory[address + i] = data[i];
  }
}

bool execute_group_f0(Device& device, const uint8_t* sector, SectorRecord& record) {
  ServiceState& service = device.service;
  switch (sector[2]) {
    case 0x04:
      device.put_reply(device.config.device_id.data(), device.config.device_id.size());
      return true;
    case 0x07:
      record.address = sector_field(sector, 3, 2);
      service.reboot_armed = sector[3];
      return true;
    case 0xFF:
      record.address = sector_field(sector, 3, 2);
      if (service.reboot_armed) {
        service_reboot(device, sector[3] != 0);
      }
      return true;
    case 0x0A:
      ++service.commands_0a;
      return true;
    case 0xE0:
      record.address = sector_field(sector, 3, 4);
      service.address_commands.push_back(record.address);
      return true;
    case 0xE2: {
      record.address = sector_field(sector, 3, 4);
      const uint32_t value = service_read_value(device, record.address);
      const uint8_t reply[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
      device.put_reply(reply, sizeof reply);
      return true;
    }
    case 0xE4:
      record.address = sector_field(sector, 3, 4);
      record.length = sector_field(sector, 7, 2);
      service_write(device, record.address, sector + 12, std::min<uint32_t>(record.length, 256));
      return true;
    default:
      return false;
  }
}

}  // namespace cartdump::sim

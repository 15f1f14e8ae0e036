// Group 0xF0 on the device: its own service commands, and the service effects its HID face
// (hid_face.h) shares.
//   0x04 identity request: the DeviceId is the reply, at offset 0.
//   0x07 arms a reboot with the flag at byte 3; 0xFF then performs it (into boot mode when the
//        flag is non-zero): the name gets "BOOT" in front, in the identity block too. Both
//        record the flag bytes 3 and 4 as their address (byte 3 low).
//   0x0A counted.
//   0xE0 address command: the 32-bit address at 3-6, recorded.
//   0xE2 read value: the 32 bits at the address (3-6) are the reply, little-endian.
//   0xE4 write block: address at 3-6, length (at most 256) at 7-8, data from byte 12.
#pragma once

#include <cstdint>

#include "sim/service_state.h"

namespace cartdump::sim {

struct Device;

// Service effects reached from both faces.
void service_reboot(Device& device, bool into_boot_mode);
uint32_t service_read_value(const Device& device, uint32_t address);
void service_write(Device& device, uint32_t address, const uint8_t* data, uint32_t count);

}  // namespace cartdump::sim

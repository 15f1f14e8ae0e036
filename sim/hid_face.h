// The device as a HID device: 64-byte output reports whose byte 0 is an opcode, answered (for most
// opcodes) by one 64-byte input report. Addresses carry 24 bits at bytes 1-3, little-endian.
//   0x10 identity: the DeviceId in bytes 0-7
//   0x11 name: the name as shown (with "BOOT" in front in boot mode), no NUL when it fills 64 bytes
//   0x12, 0x13, 0x15 information: the opcode, then a short text of the device's own
//   0x14 reboot: into boot mode when bytes 4-7 are "TOOB"; no answer
//   0x16 read value: the 32 bits at the address, little-endian
//   0x17 address command: recorded; an answer of zeros
//   0x18, 0x19 write block: length (at most 56) at 4-5, data from 6, into device memory; an
//        answer of zeros
// Any other opcode is recorded and not answered. Every report taken is kept in the service
// state's hid_log (service_state.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/service_state.h"

namespace cartdump::sim {

struct Device;

// The device takes one output report: payload is what follows the report id (size bytes, of
// which the first 64 count). It may leave an input report waiting, replacing any unread one.
void hid_take_report(Device& device, const uint8_t* payload, size_t size);
// The waiting input report, taken; false when none waits.
bool hid_give_report(Device& device, HidPayload& payload);

}  // namespace cartdump::sim

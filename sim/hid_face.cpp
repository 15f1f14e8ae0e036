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
// Any other opcode is recorded and not answered.
#include <algorithm>
#include <cstring>
#include <string>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

constexpr size_t kChunkLimit = 56;

uint32_t field(const uint8_t* payload, size_t offset, size_t width) { return sector_field(payload, offset, width); }

HidPayload text_reply(uint8_t opcode, const char* text) {
  HidPayload reply{};
  reply[0] = opcode;
  std::strncpy(reinterpret_cast<char*>(reply.data() + 1), text, kHidPayload - 2);
  return reply;
}

}  // namespace

void hid_take_report(Device& device, const uint8_t* payload, size_t size) {
  HidPayload report{};
  std::memcpy(report.data(), payload, std::min(size, kHidPayload));
  ServiceState& service = device.service;
  HidRecord record{.opcode = report[0]};
  std::optional<HidPayload> reply = HidPayload{};
  switch (report[0]) {
    case 0x10:
      std::copy(device.config.device_id.begin(), device.config.device_id.end(), reply->begin());
      break;
    case 0x11: {
      const std::string name = device.config.boot ? with_boot_marker(device.config.name) : device.config.name;
      std::memcpy(reply->data(), name.data(), std::min(name.size(), kHidPayload));
      break;
    }
    case 0x12:
      reply = text_reply(0x12, "CARTSIM FIRMWARE 1.0");
      break;
    case 0x13:
      reply = text_reply(0x13, "CARTSIM HARDWARE A");
      break;
    case 0x15:
      reply = text_reply(0x15, "CARTSIM SLOT N64");
      break;
    case 0x14:
      service_reboot(device, std::memcmp(report.data() + 4, "TOOB", 4) == 0);
      reply.reset();
      break;
    case 0x16: {
      record.address = field(report.data(), 1, 3);
      const uint32_t value = service_read_value(device, record.address);
      for (size_t i = 0; i < 4; ++i) (*reply)[i] = static_cast<uint8_t>(value >> (8 * i));
      break;
    }
    case 0x17:
      record.address = field(report.data(), 1, 3);
      service.address_commands.push_back(record.address);
      break;
    case 0x18:
    case 0x19:
      record.address = field(report.data(), 1, 3);
      record.length = field(report.data(), 4, 2);
      service_write(device, record.address, report.data() + 6,
                    static_cast<uint32_t>(std::min<size_t>(record.length, kChunkLimit)));
      break;
    default:
      reply.reset();
      break;
  }
  service.hid_log.push_back(record);
  service.hid_reply = reply;
}

bool hid_give_report(Device& device, HidPayload& payload) {
  if (!device.service.hid_reply) {
    return false;
  }
  payload = *device.service.hid_reply;
  device.service.hid_reply.reset();
  return true;
}

}  // namespace cartdump::sim

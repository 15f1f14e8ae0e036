// The device's service side, shared by its HID face (hid_face.cpp) and its service command group
// 0xF0 (group_f0.cpp): a device memory that the block writes fill and the value reads read, and a
// record of the commands whose only effect is to have arrived.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace cartdump::sim {

struct Device;

inline constexpr size_t kHidPayload = 64;
using HidPayload = std::array<uint8_t, kHidPayload>;

// One output report as the device took it: its opcode and the address and length it carried
// (0 where it has none).
struct HidRecord {
  uint8_t opcode = 0;
  uint32_t address = 0;
  uint32_t length = 0;
};

struct ServiceState {
  std::map<uint32_t, uint8_t> memory;      // bytes never written read as 0
  std::vector<uint32_t> address_commands;  // the address of every address command, either link
  uint32_t commands_0a = 0;
  uint32_t reboots = 0;
  std::optional<uint8_t> reboot_armed;     // drive reboot: 0x07 arms it with its flag, 0xFF performs it
  std::optional<HidPayload> hid_reply;     // the input report waiting to be read
  std::vector<HidRecord> hid_log;          // every output report taken
};

// The device takes one output report: payload is what follows the report id (size bytes, of
// which the first 64 count). It may leave an input report waiting, replacing any unread one.
void hid_take_report(Device& device, const uint8_t* payload, size_t size);
// The waiting input report, taken; false when none waits.
bool hid_give_report(Device& device, HidPayload& payload);

// Service effects reached from both faces.
void service_reboot(Device& device, bool into_boot_mode);
uint32_t service_read_value(const Device& device, uint32_t address);
void service_write(Device& device, uint32_t address, const uint8_t* data, uint32_t count);

}  // namespace cartdump::sim

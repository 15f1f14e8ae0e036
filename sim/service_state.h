// The device's service side, shared by its HID face (hid_face.h) and its service command group
// 0xF0 (group_f0.h): a device memory that the block writes fill and the value reads read, and a
// record of the commands whose only effect is to have arrived.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace cartdump::sim {

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

}  // namespace cartdump::sim

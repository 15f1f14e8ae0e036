// DeviceState: what discovery learnt about the device, one process-wide record, all zero at start.
#pragma once

#include <array>
#include <cstdint>

namespace cartdump {

inline constexpr uint8_t kLinkHid = 1;
inline constexpr uint8_t kLinkDrive = 2;

// Room for the root of the device drive: "E:\" on Windows, a mount point followed by "/" on
// Linux and macOS (up to PATH_MAX), always NUL-terminated.
inline constexpr uint32_t kDriveRootCapacity = 4096;
inline constexpr uint32_t kNameCapacity = 64;  // names hold at most 63 characters and a NUL
inline constexpr uint32_t kDeviceIdSize = 8;

struct DeviceState {
  uint8_t link_kind;     // kLinkHid or kLinkDrive, 0 until discovery succeeds
  uint8_t hid_mode;      // 1 while the HID report link is in use
  uint8_t boot_mode;     // 1 when the device name begins "BOOT"
  uint8_t second_block;  // 1 when the identity block carries a second block
  std::array<char, kDriveRootCapacity> drive_root;  // empty: file names resolve in the working directory
  std::array<char, kNameCapacity> device_name;
  std::array<char, kNameCapacity> volume_label;
  std::array<char, kNameCapacity> second_name;
  std::array<uint8_t, kDeviceIdSize> device_id;  // the DeviceId, key of the payload scrambling
};

extern DeviceState device_state;

// Copies the 8-byte DeviceId of the DeviceState to destination and returns 8 when capacity is at
// least 8; otherwise copies nothing and returns 0.
int get_device_id(uint8_t* destination, uint32_t capacity);

}  // namespace cartdump

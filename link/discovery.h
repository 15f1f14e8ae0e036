// Discovery: finds the cartridge-reader device and records what it learnt in the DeviceState.
// The device is looked for first as a HID device, then as the first removable drive whose reply
// file carries an identity block; the first way that succeeds decides the link for the run.
//
// The identity block is the 1024 bytes at offset 8192 of the reply file:
//   0    the device name, NUL-terminated; "BOOT" in front in boot mode
//   256  the second block: present when it begins "BOOT", a NUL-terminated name
//   512  the DeviceId (8 bytes), when there is a second block
// Without a second block the DeviceId comes from an identity request (group 0xF0, command 0x04).
#pragma once

#include <cstdint>

namespace cartdump {

struct DriveVolume;

inline constexpr int kHidVendorId = 0x0483;
inline constexpr int kHidProductId = 0x5750;

inline constexpr uint8_t kOpcodeQueryId = 0x10;
inline constexpr uint8_t kOpcodeQueryName = 0x11;

// Clears the strings and the drive root of the DeviceState, finds the device and fills the
// record. True when a device was found. The same as locate_device followed by identify_device.
bool open_device();

// Discovery in two halves, for a caller that must act between finding the device and sending it
// anything (n64dump takes its lock on the reader there).
//
// locate_device: clears the strings and the drive root, and finds the device as open_device does
// without sending it anything: the HID step opens the device as HID device 0 and asks it nothing;
// the drive step reads identity blocks alone and keeps the one found. Sets link_kind, hid_mode and,
// on the drive, drive_root. True when a device was found.
bool locate_device();
// identify_device: after a locate_device that found the device, asks it for its name and id (the
// HID queries, or the identity request of a drive without a second block) and fills the rest of
// the record, exactly as open_device does.
void identify_device();
// What names the device located: its HID device path, or the root of its drive.
const char* located_device_path();

// In HID mode closes HID device 0; otherwise does nothing.
void close_device();

// The HID step: the device (vendor 0x0483, product 0x5750) becomes HID device 0. The enumeration
// is tried twice, at once one after the other.
bool find_hid_device();

// One information query on HID device 0: a report of the opcode alone, and its 64-byte answer in
// reply, all zero when none came.
void query_device_info(uint8_t opcode, uint8_t* reply);
// The device name, a character string, beginning "BOOT" in boot mode.
void dev_query_name(uint8_t* reply);
// The DeviceId in reply bytes 0 to 7.
void dev_query_id(uint8_t* reply);

// The drive step: walks the host's volumes, with the host kept quiet about drives without a medium
// (DriveWalkQuiet); removable ones without an identity block are passed over, and the first with
// one is the device. Fills drive_root, volume_label, device_name, boot_mode, second_block,
// second_name and device_id. On failure drive_root holds the last root examined.
bool probe_drives();

// The drive step's test of one volume, shared by the walk and by n64dump --devices: sets
// drive_root to the volume's root and, when the volume is removable, reads its identity block
// into block (kIdentityBlockSize bytes). True when the block came whole: the volume is a reader's
// drive. Sends the drive nothing.
bool drive_volume_identity(const DriveVolume& volume, uint8_t* block);

}  // namespace cartdump

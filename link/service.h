// The device's own service commands. Four exist in two forms and choose at every call by the
// DeviceState's hid_mode: a 64-byte HID report on device 0 when it is 1, command sectors of group
// 0xF0 through the drive file link otherwise. Command 0x0A has only the drive form; the further
// information queries, the second block-write opcode and the generic exchange only the HID form.
//
// HID reports: byte 0 the opcode, addresses in bytes 1-3 (their low 24 bits), little-endian.
//   0x12, 0x13, 0x15 information queries     0x14 reboot ("TOOB" at 4-7 into boot mode)
//   0x16 read value                           0x17 address command
//   0x18, 0x19 write block: length at 4-5 (at most 56), data from 6
// Drive commands, group 0xF0, 32-bit addresses at bytes 3-6:
//   0x07 then 0xFF reboot (the flag at 3 and 4)   0x0A command 0x0A
//   0xE0 address command   0xE2 read value (2 reply bytes)   0xE4 write block (256 per sector)
#pragma once

#include <cstdint>

namespace cartdump {

// Reboots the device, into its boot mode when boot_mode is non-zero. HID: 1, no reply read.
// Drive: the result of the second of its two sends.
int dev_reboot(uint8_t boot_mode);

// Hands the device an address. HID: 1; drive: the result of the send.
int dev_address_command(uint32_t address);

// The value at a device address: HID gives 32 bits, the drive 16 (0 when no reply came).
uint32_t dev_read_value(uint32_t address);

// Writes count bytes of data to device memory at address: 56 bytes per HID report, each followed by
// a reply read; on the drive 256 bytes per sector, all in one send. HID: 1; drive: the result of
// the send.
int dev_write_block(uint32_t address, const uint8_t* data, uint32_t count);

// Command 0x0A, always through the drive file link. Returns the result of the send.
int dev_command_0a();

// The further HID information queries: the 64-byte answer in reply, all zero when none came.
void dev_query_12(uint8_t* reply);
void dev_query_13(uint8_t* reply);
void dev_query_15(uint8_t* reply);

// The HID block write with the second opcode, 0x18. Returns 1.
int dev_write_block_18(uint32_t address, const uint8_t* data, uint32_t count);

// Stores opcode in byte 0 of the caller's 64-byte report (the caller's buffer changes), writes it
// to HID device 0 and copies the 64-byte reply into the caller's reply buffer.
void dev_exchange(uint8_t opcode, uint8_t* report, uint8_t* reply);

}  // namespace cartdump

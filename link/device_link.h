// DeviceLink: the three operations through which every command group reaches the device, carried
// by three files in the root of the device drive.
//
// Calling order: commands go one at a time. A command with a reply is sent with send_sectors and
// its reply read with read_reply (or read_dump) as soon as send_sectors returns; no other command
// may come between them, since every reply lands at offset 0 of the same reply file.
#pragma once

#include <array>
#include <cstdint>

#include "link/device_state.h"

namespace cartdump {

inline constexpr const char* kCommandFile = "CMD.CMD";        // the last batch of sectors sent
inline constexpr const char* kResponseFile = "T-DRIVER.DMP";  // replies at 0, identity block at 8192
inline constexpr const char* kDumpFile = "DUMP.ROM";          // byte offsets are device addresses

inline constexpr uint32_t kReplyBlockSize = 1024;     // the smallest read of the reply and dump files
inline constexpr uint32_t kIdentityOffset = 8192;     // identity block in the reply file
inline constexpr uint32_t kIdentityBlockSize = 1024;

// A path on the device drive: the drive root followed by a file name.
using DevicePath = std::array<char, kDriveRootCapacity + 32>;

// drive_root of the DeviceState followed by name; an empty root gives the bare name, which
// resolves in the working directory.
DevicePath device_file_path(const char* name);

// Frames the batch (marker and CRC-16 into every sector, in the caller's buffer) and writes all
// length bytes as the command file in one write. Returns the bytes written, 0 when nothing could
// be written. length is a multiple of 512; 0 writes an empty command file.
int send_sectors(uint8_t* batch, uint32_t length);

// Reads length bytes of the reply file at offset into destination and returns the bytes delivered.
// Up to 1024 bytes are fetched as one 1024-byte read and cut down, so bytes the device did not
// deliver arrive as zeros; longer reads go straight into destination, which keeps what it held
// where nothing arrived.
int read_reply(uint32_t offset, uint8_t* destination, uint32_t length);

// The same on the dump file, whose offsets are device addresses.
int read_dump(uint32_t offset, uint8_t* destination, uint32_t length);

}  // namespace cartdump

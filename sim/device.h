// The device model: the cartridge reader's side of the three drive files, as the host sees it.
// It takes every write of the command file, checks each 512-byte sector's marker and CRC-16 the way
// the firmware does (a bad sector is counted and ignored), executes the valid ones in order and
// keeps the reply file ("T-DRIVER.DMP": the reply to the last command at offset 0, the identity
// block at 8192) and the dump file ("DUMP.ROM"). Every sector is recorded, so tests can assert the
// exact command sequence of an operation.
//
// The model is shared by the in-memory drive of the unit tests and by cartsim, which mounts it as
// a real directory. One command group per source file (group_10.cpp, ...).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/group_07.h"
#include "sim/group_0e.h"
#include "sim/group_0f.h"
#include "sim/group_11.h"
#include "sim/group_13.h"
#include "sim/group_14.h"
#include "sim/service_state.h"

namespace cartdump::sim {

inline constexpr uint32_t kReplyAreaSize = 8192;      // replies start at offset 0 of the reply file
inline constexpr uint32_t kIdentityOffset = 8192;     // the identity block follows the reply area
inline constexpr uint32_t kIdentitySize = 1024;
inline constexpr uint32_t kReplyFileSize = kIdentityOffset + kIdentitySize;
inline constexpr uint32_t kN64RomBase = 0x1000000;    // group 0x10 address of cartridge byte 0
inline constexpr uint32_t kDefaultDumpSize = 0x1000000;

enum class Outcome : uint8_t { accepted, bad_marker, bad_crc, unknown_command };

const char* outcome_name(Outcome outcome);

// One sector as the device took it: group, command, and the address and length it carried in its
// group's layout (0 where the command has none).
struct SectorRecord {
  uint8_t group = 0;
  uint8_t command = 0;
  uint32_t address = 0;
  uint32_t length = 0;
  Outcome outcome = Outcome::accepted;
};

struct DeviceConfig {
  std::vector<uint8_t> rom;            // the N64 cartridge in the slot, big-endian or as dumped
  std::string name = "CARTSIM N64 READER";
  bool boot = false;                   // the device is in boot mode: its name begins "BOOT"
  bool second_block = false;           // the identity block carries a second "BOOT" block
  std::string second_name = "BOOT";    // the second block's text (given "BOOT" in front if it lacks it)
  std::array<uint8_t, 8> device_id{0x43, 0x41, 0x52, 0x54, 0x53, 0x49, 0x4D, 0x01};
  // Identity bytes 512-519 when there is no second block: the XOR key of the payload scrambling
  // for a device whose name does not begin "NES" (one whose name does takes Blowfish).
  std::array<uint8_t, 8> xor_key{};
  uint32_t dump_size = kDefaultDumpSize;
};

struct Device {
  explicit Device(DeviceConfig config = {});

  DeviceConfig config;
  std::vector<uint8_t> reply_file;    // T-DRIVER.DMP
  std::vector<uint8_t> dump_file;     // DUMP.ROM
  std::vector<uint8_t> command_file;  // CMD.CMD as last written
  std::vector<SectorRecord> log;
  uint64_t accepted = 0;
  uint64_t rejected = 0;

  // Group 0x10: the cartridge ROM, writable as on a development cartridge.
  std::vector<uint8_t> rom;
  uint32_t n64_last_address = 0;  // carried by command 0x02
  bool n64_ready = false;         // set by command 0x01

  CfiChip g07;           // group 0x07: a flash chip in query mode
  Group0eModel g0e;      // group 0x0E: two 64 KiB spaces
  FlashChip g0f;         // group 0x0F: a flash chip with its command state machine
  ByteWriter g11;        // group 0x11: byte writes into the dump file
  Group13Model g13;      // group 0x13: word-addressed memory
  BankedCart g14;        // group 0x14: banked memory and the register pair
  ServiceState service;  // group 0xF0 and the HID face

  // The command file is created anew (or truncated): what follows is a new batch.
  void truncate_command_file();
  // Bytes of the command file at offset, as the host's write delivers them (a large write may come
  // in pieces). Every sector completed by them is executed before this returns.
  void write_command_file(uint64_t offset, const uint8_t* data, size_t size);

  // Reads of the reply and dump files: the bytes delivered, fewer when the file ends first.
  size_t read_reply_file(uint64_t offset, uint8_t* out, size_t size) const;
  size_t read_dump_file(uint64_t offset, uint8_t* out, size_t size) const;

  // Rewrites the identity block from the configuration (name, boot mode, second block).
  void write_identity_block();
  // The reply to a command: size bytes at offset 0 of the reply file.
  void put_reply(const uint8_t* data, size_t size);

 private:
  void execute(const uint8_t* sector);
  size_t executed_bytes_ = 0;
};

// The name as the device shows it: "BOOT" in front when it is not there already.
std::string with_boot_marker(const std::string& text);

// Little-endian field of a received sector.
uint32_t sector_field(const uint8_t* sector, size_t offset, size_t width);

// Group handlers: execute one valid sector, fill in the record's address and length, return false
// for a command the group does not know.
bool execute_group_07(Device& device, const uint8_t* sector, SectorRecord& record);
bool execute_group_0e(Device& device, const uint8_t* sector, SectorRecord& record);
bool execute_group_0f(Device& device, const uint8_t* sector, SectorRecord& record);
bool execute_group_10(Device& device, const uint8_t* sector, SectorRecord& record);
bool execute_group_11(Device& device, const uint8_t* sector, SectorRecord& record);
bool execute_group_13(Device& device, const uint8_t* sector, SectorRecord& record);
bool execute_group_14(Device& device, const uint8_t* sector, SectorRecord& record);
bool execute_group_f0(Device& device, const uint8_t* sector, SectorRecord& record);

}  // namespace cartdump::sim

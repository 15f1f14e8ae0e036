// The device model: the cartridge reader's side of the three drive files, as the host sees it.
// It takes every write of the command file, checks each 512-byte sector's marker and CRC-16 the way
// the firmware does (a bad sector is counted and ignored), executes the valid ones in order and
// keeps the reply file ("T-DRIVER.DMP": the reply to the last command at offset 0, the identity
// block at 8192) and the dump file ("DUMP.ROM"). Every sector is recorded, so tests can assert the
// exact command sequence of an operation.
//
// The model is shared by the in-memory drive of the unit tests and by cartsim, which mounts it as
// a real directory. One command group per source file (group_10.cpp, ...), each a table of its
// commands' handlers (CommandEntry), its model's state and semantics in its header.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/command_patterns.h"
#include "sim/group_07.h"
#include "sim/group_0e.h"
#include "sim/group_0f.h"
#include "sim/group_10.h"
#include "sim/group_11.h"
#include "sim/group_13.h"
#include "sim/group_14.h"
#include "sim/group_f0.h"
#include "sim/hid_face.h"

namespace cartdump::sim {

inline constexpr uint32_t kReplyAreaSize = 8192;      // replies start at offset 0 of the reply file
inline constexpr uint32_t kIdentityOffset = 8192;     // the identity block follows the reply area
inline constexpr uint32_t kIdentitySize = 1024;
inline constexpr uint32_t kReplyFileSize = kIdentityOffset + kIdentitySize;
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
  Beyond beyond = Beyond::fill;  // what the N64 slot answers past the cartridge image
  N64Faults n64_faults;          // the faults of its read replies (group_10.h)
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

  CfiChip g07;           // group 0x07: a flash chip in query mode
  Group0eModel g0e;      // group 0x0E: two 64 KiB spaces
  FlashChip g0f;         // group 0x0F: a flash chip with its command state machine
  N64Slot g10;           // group 0x10: the N64 cartridge in the slot
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
  // The reply to a read of length bytes from address on, of which the reply area holds the first
  // 8192: byte_at(a) for each address a in turn, at offset 0 of the reply file.
  template <typename ByteAt>
  void put_reply_range(uint32_t address, uint32_t length, ByteAt byte_at) {
    const uint32_t n = std::min(length, kReplyAreaSize);
    for (uint32_t i = 0; i < n; ++i) {
      reply_file[i] = byte_at(address + i);
    }
  }

 private:
  void execute(const uint8_t* sector);
  size_t executed_bytes_ = 0;
};

// The name as the device shows it: "BOOT" in front when it is not there already.
std::string with_boot_marker(const std::string& text);

// A field of a received sector or HID report, in the library's layout: the counterpart of
// put_field, the width bytes at its offset read little-endian and shifted left by its shift; 0 for
// no field (width 0).
uint32_t get_field(const uint8_t* bytes, SectorField field);

// A write of length bytes of data from address on: store(a, byte) for each address a in turn.
template <typename Store>
void store_range(uint32_t address, const uint8_t* data, uint32_t length, Store store) {
  for (uint32_t i = 0; i < length; ++i) {
    store(address + i, data[i]);
  }
}

// A command of a group as the device carries it out, given a valid sector.
using CommandHandler = void (*)(Device& device, const uint8_t* sector, SectorRecord& record);

// One row of a group's command table: the command's code, its handler, and the fields of its
// sector that its record shows (no field: 0). The device fills in the record before the handler
// runs, and the handler takes the address and length from it.
struct CommandEntry {
  uint8_t command = 0;
  CommandHandler run = nullptr;
  SectorField address;
  SectorField upper_address;  // more bits of the same address in a field of their own (a bank)
  SectorField length;
};

// The command tables of the groups, one per source; a command not in its group's table is unknown.
std::span<const CommandEntry> group_07_commands();
std::span<const CommandEntry> group_0e_commands();
std::span<const CommandEntry> group_0f_commands();
std::span<const CommandEntry> group_10_commands();
std::span<const CommandEntry> group_11_commands();
std::span<const CommandEntry> group_13_commands();
std::span<const CommandEntry> group_14_commands();
std::span<const CommandEntry> group_f0_commands();

}  // namespace cartdump::sim

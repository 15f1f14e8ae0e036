#include "link/service.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "link/command_patterns.h"
#include "link/device_link.h"
#include "link/device_state.h"
#include "link/discovery.h"
#include "link/hid_link.h"

namespace cartdump {
namespace {

using HidReport = std::array<uint8_t, kHidPayloadSize>;

// HID reports --------------------------------------------------------------------------------------
// Fields of a report are laid out like sector fields; addresses keep their low 24 bits.

constexpr uint8_t kHidReboot = 0x14;
constexpr uint8_t kHidReadValue = 0x16;
constexpr uint8_t kHidAddressCommand = 0x17;
constexpr uint8_t kHidWriteBlock18 = 0x18;
constexpr uint8_t kHidWriteBlock = 0x19;

constexpr SectorField kHidAddress{1, 3};
constexpr SectorField kHidChunkLength{4, 2};
constexpr uint32_t kHidDataOffset = 6;
constexpr uint32_t kHidChunk = 56;
constexpr std::array<uint8_t, 4> kIntoBootMode{0x54, 0x4F, 0x4F, 0x42};  // "TOOB"
constexpr uint32_t kBootMarkerOffset = 4;

static_assert(kHidDataOffset + kHidChunk <= kHidPayloadSize - 2, "bytes 62 and 63 stay zero");

HidReport hid_report(uint8_t opcode, uint32_t address) {
  HidReport report{};
  report[0] = opcode;
  put_field(report.data(), kHidAddress, address);
  return report;
}

// Opcodes 0x18 and 0x19: one report per chunk of at most 56 bytes, each followed by a reply read
// and discarded. The report is cleared once only, so behind a short last chunk it still holds the
// previous chunk's data.
int hid_write_chunks(uint8_t opcode, uint32_t address, const uint8_t* data, uint32_t count) {
  HidReport report{};
  HidReport reply{};
  for (uint64_t offset = 0; offset < count; offset += kHidChunk) {
    const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(kHidChunk, count - offset));
    report[0] = opcode;
    put_field(report.data(), kHidAddress, address);
    put_field(report.data(), kHidChunkLength, chunk);
    std::memcpy(report.data() + kHidDataOffset, data + offset, chunk);
    hid_exchange(report.data(), reply.data());
    address += chunk;
  }
  return 1;
}

// Drive commands, group 0xF0 ----------------------------------------------------------------------

constexpr uint8_t kGroup = 0xF0;
constexpr uint8_t kReboot = 0x07;
constexpr uint8_t kRebootCommit = 0xFF;
constexpr uint8_t kCommand0A = 0x0A;
constexpr uint8_t kAddressCommand = 0xE0;
constexpr uint8_t kReadValue = 0xE2;

constexpr SectorField kAddress{3, 4};
constexpr SectorField kRebootFlag{3, 1};
constexpr SectorField kRebootFlagAgain{4, 1};

constexpr BulkShape kWriteBlock{
    .command = {.group = kGroup, .command = 0xE4, .address = kAddress, .length = {7, 2}, .payload_offset = 12},
    .chunk = 256};
static_assert(bulk_shape_fits(kWriteBlock));

bool hid_link_in_use() { return device_state.hid_mode == 1; }

}  // namespace

int dev_reboot(uint8_t boot_mode) {
  if (hid_link_in_use()) {
    HidReport report{};
    report[0] = kHidReboot;
    if (boot_mode != 0) {
      std::copy(kIntoBootMode.begin(), kIntoBootMode.end(), report.begin() + kBootMarkerOffset);
    }
    hid_send(report.data());
    return 1;
  }
  // The same sector twice, the second time with command 0xFF.
  CommandSector sector = make_sector(kGroup, kReboot, {{kRebootFlag, boot_mode}, {kRebootFlagAgain, boot_mode}});
  send_sector(sector);
  sector[2] = kRebootCommit;
  return send_sector(sector);
}

int dev_address_command(uint32_t address) {
  if (hid_link_in_use()) {
    const HidReport report = hid_report(kHidAddressCommand, address);
    HidReport reply{};
    hid_exchange(report.data(), reply.data());
    return 1;
  }
  return send_command(kGroup, kAddressCommand, {{kAddress, address}});
}

uint32_t dev_read_value(uint32_t address) {
  if (hid_link_in_use()) {
    const HidReport report = hid_report(kHidReadValue, address);
    HidReport reply{};
    hid_exchange(report.data(), reply.data());
    return static_cast<uint32_t>(reply[0] | reply[1] << 8 | reply[2] << 16) | static_cast<uint32_t>(reply[3]) << 24;
  }
  // Two reply bytes; where none arrived they read as zeros, and the value as 0.
  const ReplyBlock reply = query_command(kGroup, kReadValue, {{kAddress, address}});
  return static_cast<uint32_t>(reply[0] | reply[1] << 8);
}

int dev_write_block(uint32_t address, const uint8_t* data, uint32_t count) {
  if (hid_link_in_use()) {
    return hid_write_chunks(kHidWriteBlock, address, data, count);
  }
  return bulk_write(kWriteBlock, address, data, count);
}

int dev_command_0a() { return send_command(kGroup, kCommand0A); }

void dev_query_12(uint8_t* reply) { query_device_info(0x12, reply); }
void dev_query_13(uint8_t* reply) { query_device_info(0x13, reply); }
void dev_query_15(uint8_t* reply) { query_device_info(0x15, reply); }

int dev_write_block_18(uint32_t address, const uint8_t* data, uint32_t count) {
  return hid_write_chunks(kHidWriteBlock18, address, data, count);
}

void dev_exchange(uint8_t opcode, uint8_t* report, uint8_t* reply) {
  report[0] = opcode;
  hid_exchange(report, reply);
}

}  // namespace cartdump

#include "sim/group_f0.h"

#include <algorithm>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

constexpr SectorField kAddress{3, 4};
constexpr SectorField kRebootFlag{3, 1};
constexpr SectorField kRebootFlags{3, 2};  // the flag and its copy at 4, as the record shows them
constexpr SectorField kBlockLength{7, 2};
constexpr uint16_t kBlockData = 12;
constexpr uint32_t kMaxBlock = 256;
constexpr SectorField kReplyValue{0, 4};

void identity(Device& device, const uint8_t*, SectorRecord&) {
  device.put_reply(device.config.device_id.data(), device.config.device_id.size());
}

void arm_reboot(Device& device, const uint8_t* sector, SectorRecord&) {
  device.service.reboot_armed = static_cast<uint8_t>(get_field(sector, kRebootFlag));
}

void reboot(Device& device, const uint8_t* sector, SectorRecord&) {
  if (device.service.reboot_armed) {
    service_reboot(device, get_field(sector, kRebootFlag) != 0);
  }
}

void count_0a(Device& device, const uint8_t*, SectorRecord&) { ++device.service.commands_0a; }

void address_command(Device& device, const uint8_t*, SectorRecord& record) {
  device.service.address_commands.push_back(record.address);
}

void read_value(Device& device, const uint8_t*, SectorRecord& record) {
  uint8_t reply[4];
  put_field(reply, kReplyValue, service_read_value(device, record.address));
  device.put_reply(reply, sizeof reply);
}

void write_block(Device& device, const uint8_t* sector, SectorRecord& record) {
  service_write(device, record.address, sector + kBlockData, std::min(record.length, kMaxBlock));
}

constexpr CommandEntry kCommands[] = {
    {.command = 0x04, .run = identity},
    {.command = 0x07, .run = arm_reboot, .address = kRebootFlags},
    {.command = 0xFF, .run = reboot, .address = kRebootFlags},
    {.command = 0x0A, .run = count_0a},
    {.command = 0xE0, .run = address_command, .address = kAddress},
    {.command = 0xE2, .run = read_value, .address = kAddress},
    {.command = 0xE4, .run = write_block, .address = kAddress, .length = kBlockLength},
};

}  // namespace

void service_reboot(Device& device, bool into_boot_mode) {
  ++device.service.reboots;
  device.service.reboot_armed.reset();
  device.service.hid_reply.reset();
  device.config.boot = into_boot_mode;
  device.write_identity_block();
}

uint32_t service_read_value(const Device& device, uint32_t address) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < 4; ++i) {
    const auto it = device.service.memory.find(address + i);
    value |= static_cast<uint32_t>(it != device.service.memory.end() ? it->second : 0) << (8 * i);
  }
  return value;
}

void service_write(Device& device, uint32_t address, const uint8_t* data, uint32_t count) {
  store_range(address, data, count, [&](uint32_t a, uint8_t value) { device.service.memory[a] = value; });
}

std::span<const CommandEntry> group_f0_commands() { return kCommands; }

}  // namespace cartdump::sim

#include "sim/device.h"

#include <algorithm>
#include <cstring>

#include "link/sector.h"

namespace cartdump::sim {
namespace {

struct GroupEntry {
  uint8_t group;
  std::span<const CommandEntry> (*commands)();
};

constexpr GroupEntry kGroups[] = {
    {0x07, group_07_commands},
    {0x0E, group_0e_commands},
    {0x0F, group_0f_commands},
    {0x10, group_10_commands},
    {0x11, group_11_commands},
    {0x13, group_13_commands},
    {0x14, group_14_commands},
    {0xF0, group_f0_commands},
};

// The row of a valid sector's command; null for a command the device does not know.
const CommandEntry* find_command(uint8_t group, uint8_t command) {
  const auto g = std::ranges::find(kGroups, group, &GroupEntry::group);
  if (g == std::end(kGroups)) {
    return nullptr;
  }
  const std::span<const CommandEntry> commands = g->commands();
  const auto c = std::ranges::find(commands, command, &CommandEntry::command);
  return c == commands.end() ? nullptr : &*c;
}

size_t read_area(const std::vector<uint8_t>& area, uint64_t offset, uint8_t* out, size_t size) {
  if (offset >= area.size()) {
    return 0;
  }
  const size_t n = std::min<uint64_t>(size, area.size() - offset);
  std::memcpy(out, area.data() + offset, n);
  return n;
}

void put_string(std::vector<uint8_t>& area, size_t offset, const std::string& text, size_t room) {
  const size_t n = std::min(text.size(), room - 1);
  std::memcpy(area.data() + offset, text.data(), n);
  area[offset + n] = 0;
}

}  // namespace

std::string with_boot_marker(const std::string& text) {
  return text.rfind("BOOT", 0) == 0 ? text : "BOOT" + text;
}

const char* outcome_name(Outcome outcome) {
  switch (outcome) {
    case Outcome::accepted: return "accepted";
    case Outcome::bad_marker: return "bad-marker";
    case Outcome::bad_crc: return "bad-crc";
    case Outcome::unknown_command: return "unknown-command";
  }
  return "?";
}

uint32_t get_field(const uint8_t* bytes, SectorField field) {
  uint32_t value = 0;
  for (uint8_t i = 0; i < field.width; ++i) {
    value |= static_cast<uint32_t>(bytes[field.offset + i]) << (8 * i);
  }
  return field.shift < 32 ? value << field.shift : 0;
}

Device::Device(DeviceConfig cfg)
    : config(std::move(cfg)),
      reply_file(kReplyFileSize, 0),
      dump_file(config.dump_size, 0),
      g10{.rom = config.rom, .beyond = config.beyond, .faults = config.n64_faults, .random = config.n64_faults.seed} {
  write_identity_block();
}

void Device::write_identity_block() {
  std::fill(reply_file.begin() + kIdentityOffset, reply_file.end(), 0);
  const std::string name = config.boot ? with_boot_marker(config.name) : config.name;
  // The name field runs up to the second block; a longer name is cut there.
  put_string(reply_file, kIdentityOffset, name, 256);
  if (config.second_block) {
    put_string(reply_file, kIdentityOffset + 256, with_boot_marker(config.second_name), 256);
    std::copy(config.device_id.begin(), config.device_id.end(), reply_file.begin() + kIdentityOffset + 512);
  } else {
    std::copy(config.xor_key.begin(), config.xor_key.end(), reply_file.begin() + kIdentityOffset + 512);
  }
}

void Device::put_reply(const uint8_t* data, size_t size) {
  std::memcpy(reply_file.data(), data, std::min<size_t>(size, kReplyAreaSize));
}

void Device::truncate_command_file() {
  command_file.clear();
  executed_bytes_ = 0;
}

void Device::write_command_file(uint64_t offset, const uint8_t* data, size_t size) {
  if (size == 0) {
    return;
  }
  if (offset + size > command_file.size()) {
    command_file.resize(offset + size, 0);
  }
  std::memcpy(command_file.data() + offset, data, size);
  // Sectors run in file order, each once, as soon as the bytes before and in it have arrived.
  while (executed_bytes_ + kSectorSize <= command_file.size() && executed_bytes_ + kSectorSize <= offset + size) {
    execute(command_file.data() + executed_bytes_);
    executed_bytes_ += kSectorSize;
  }
}

void Device::execute(const uint8_t* sector) {
  SectorRecord record;
  record.group = sector[1];
  record.command = sector[2];
  const uint16_t crc = static_cast<uint16_t>(sector[kSectorCrcOffset] << 8 | sector[kSectorCrcOffset + 1]);
  if (sector[0] != kSectorMarker) {
    record.outcome = Outcome::bad_marker;
  } else if (crc16_xmodem(sector, kSectorSize) != crc) {
    record.outcome = Outcome::bad_crc;
  } else if (const CommandEntry* entry = find_command(record.group, record.command)) {
    record.address = get_field(sector, entry->address) | get_field(sector, entry->upper_address);
    record.length = get_field(sector, entry->length);
    entry->run(*this, sector, record);
  } else {
    record.outcome = Outcome::unknown_command;
  }
  if (record.outcome == Outcome::accepted) {
    ++accepted;
  } else {
    ++rejected;
  }
  log.push_back(record);
}

size_t Device::read_reply_file(uint64_t offset, uint8_t* out, size_t size) const {
  return read_area(reply_file, offset, out, size);
}

size_t Device::read_dump_file(uint64_t offset, uint8_t* out, size_t size) const {
  return read_area(dump_file, offset, out, size);
}

}  // namespace cartdump::sim

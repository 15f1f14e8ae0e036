#include "sim/hid_face.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "sim/device.h"

namespace cartdump::sim {
namespace {

constexpr SectorField kHidAddress{1, 3};
constexpr SectorField kHidChunkLength{4, 2};
constexpr uint16_t kHidDataOffset = 6;
constexpr uint32_t kHidChunk = 56;
constexpr uint16_t kBootMarkerOffset = 4;
constexpr SectorField kReplyValue{0, 4};

// What the device does with one report, given the record of it; the answer, or none.
using ReportHandler = std::optional<HidPayload> (*)(Device& device, const HidPayload& report,
                                                    const HidRecord& record);

// One row of the opcode table: the handler, and the fields of the report that its record shows
// (no field: 0).
struct ReportEntry {
  uint8_t opcode = 0;
  ReportHandler run = nullptr;
  SectorField address;
  SectorField length;
};

HidPayload text_reply(uint8_t opcode, const char* text) {
  HidPayload reply{};
  reply[0] = opcode;
  std::strncpy(reinterpret_cast<char*>(reply.data() + 1), text, kHidPayload - 2);
  return reply;
}

std::optional<HidPayload> identity(Device& device, const HidPayload&, const HidRecord&) {
  HidPayload reply{};
  std::copy(device.config.device_id.begin(), device.config.device_id.end(), reply.begin());
  return reply;
}

std::optional<HidPayload> name(Device& device, const HidPayload&, const HidRecord&) {
  HidPayload reply{};
  const std::string shown = device.config.boot ? with_boot_marker(device.config.name) : device.config.name;
  std::memcpy(reply.data(), shown.data(), std::min(shown.size(), kHidPayload));
  return reply;
}

std::optional<HidPayload> firmware(Device&, const HidPayload& report, const HidRecord&) {
  return text_reply(report[0], "CARTSIM FIRMWARE 1.0");
}

std::optional<HidPayload> hardware(Device&, const HidPayload& report, const HidRecord&) {
  return text_reply(report[0], "CARTSIM HARDWARE A");
}

std::optional<HidPayload> slot(Device&, const HidPayload& report, const HidRecord&) {
  return text_reply(report[0], "CARTSIM SLOT N64");
}

std::optional<HidPayload> reboot(Device& device, const HidPayload& report, const HidRecord&) {
  service_reboot(device, std::memcmp(report.data() + kBootMarkerOffset, "TOOB", 4) == 0);
  return std::nullopt;
}

std::optional<HidPayload> read_value(Device& device, const HidPayload&, const HidRecord& record) {
  HidPayload reply{};
  put_field(reply.data(), kReplyValue, service_read_value(device, record.address));
  return reply;
}

std::optional<HidPayload> address_command(Device& device, const HidPayload&, const HidRecord& record) {
  device.service.address_commands.push_back(record.address);
  return HidPayload{};
}

std::optional<HidPayload> write_block(Device& device, const HidPayload& report, const HidRecord& record) {
  service_write(device, record.address, report.data() + kHidDataOffset, std::min(record.length, kHidChunk));
  return HidPayload{};
}

constexpr ReportEntry kReports[] = {
    {.opcode = 0x10, .run = identity},
    {.opcode = 0x11, .run = name},
    {.opcode = 0x12, .run = firmware},
    {.opcode = 0x13, .run = hardware},
    {.opcode = 0x14, .run = reboot},
    {.opcode = 0x15, .run = slot},
    {.opcode = 0x16, .run = read_value, .address = kHidAddress},
    {.opcode = 0x17, .run = address_command, .address = kHidAddress},
    {.opcode = 0x18, .run = write_block, .address = kHidAddress, .length = kHidChunkLength},
    {.opcode = 0x19, .run = write_block, .address = kHidAddress, .length = kHidChunkLength},
};

}  // namespace

void hid_take_report(Device& device, const uint8_t* payload, size_t size) {
  HidPayload report{};
  std::memcpy(report.data(), payload, std::min(size, kHidPayload));
  HidRecord record{.opcode = report[0]};
  std::optional<HidPayload> reply;
  const auto entry = std::ranges::find(kReports, record.opcode, &ReportEntry::opcode);
  if (entry != std::end(kReports)) {
    record.address = get_field(report.data(), entry->address);
    record.length = get_field(report.data(), entry->length);
    reply = entry->run(device, report, record);
  }
  device.service.hid_log.push_back(record);
  device.service.hid_reply = reply;
}

bool hid_give_report(Device& device, HidPayload& payload) {
  if (!device.service.hid_reply) {
    return false;
  }
  payload = *device.service.hid_reply;
  device.service.hid_reply.reset();
  return true;
}

}  // namespace cartdump::sim

#include "sim/group_11.h"

#include "sim/device.h"

namespace cartdump::sim {
namespace {

constexpr SectorField kAddress{3, 3};
constexpr SectorField kValue{6, 1};

void prepare(Device& device, const uint8_t*, SectorRecord&) { device.g11.ready = true; }

void write_byte(Device& device, const uint8_t* sector, SectorRecord& record) {
  record.length = 1;
  const auto value = static_cast<uint8_t>(get_field(sector, kValue));
  device.g11.writes.push_back({record.address, value});
  if (record.address < device.dump_file.size()) {
    device.dump_file[record.address] = value;
  }
}

constexpr CommandEntry kCommands[] = {
    {.command = 0x01, .run = prepare},
    {.command = 0x02, .run = write_byte, .address = kAddress},
};

}  // namespace

std::span<const CommandEntry> group_11_commands() { return kCommands; }

}  // namespace cartdump::sim

#include "carts/group_07.h"

#include "link/command_patterns.h"

namespace cartdump {
namespace {

constexpr uint8_t kGroup = 0x07;
constexpr SectorField kAddress{3, 3};
constexpr SectorField kLength{6, 2};

constexpr CommandShape kRead{.group = kGroup, .command = 0x02, .address = kAddress, .length = kLength};

}  // namespace

int g07_init() { return send_command(kGroup, 0x01); }

uint8_t g07_read_byte(uint32_t address) {
  return query_command(kGroup, 0x02, {{kAddress, address}, {kLength, 1}})[0];
}

uint32_t g07_read(uint32_t address, uint8_t* destination, uint32_t length) {
  return ranged_read(kRead, address, destination, length);
}

}  // namespace cartdump

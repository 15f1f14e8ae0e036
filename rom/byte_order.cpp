#include "rom/byte_order.h"

#include <array>
#include <cstring>
#include <iterator>

namespace cartdump {
namespace {

struct OrderEntry {
  RomByteOrder order;
  const char* name;
  uint8_t first_byte;
  std::array<uint8_t, 4> source;  // byte i of each word in this order is big-order byte source[i]
};

constexpr OrderEntry kOrders[] = {
    {RomByteOrder::big, "big", 0x80, {0, 1, 2, 3}},
    {RomByteOrder::byteswapped, "byteswapped", 0x37, {1, 0, 3, 2}},
    {RomByteOrder::little, "little", 0x40, {3, 2, 1, 0}},
    {RomByteOrder::wordswapped, "wordswapped", 0x12, {2, 3, 0, 1}},
};

constexpr bool orders_indexed_by_value() {
  for (size_t i = 0; i < std::size(kOrders); ++i) {
    if (static_cast<size_t>(kOrders[i].order) != i) return false;
  }
  return true;
}
static_assert(orders_indexed_by_value());

}  // namespace

RomByteOrder rom_byte_order_of(const uint8_t* start, uint32_t length) {
  if (length == 0) return RomByteOrder::unknown;
  for (const OrderEntry& entry : kOrders) {
    if (entry.first_byte == start[0]) return entry.order;
  }
  return RomByteOrder::unknown;
}

const char* rom_byte_order_name(RomByteOrder order) {
  const auto index = static_cast<size_t>(order);
  return index < std::size(kOrders) ? kOrders[index].name : "unknown";
}

int rom_byte_order_named(const char* name, RomByteOrder* order) {
  for (const OrderEntry& entry : kOrders) {
    if (std::strcmp(entry.name, name) == 0) {
      *order = entry.order;
      return 1;
    }
  }
  return 0;
}

void rom_convert_order(uint8_t* data, uint32_t length, RomByteOrder order) {
  const auto index = static_cast<size_t>(order);
  if (order == RomByteOrder::big || index >= std::size(kOrders)) return;
  const std::array<uint8_t, 4>& source = kOrders[index].source;
  for (uint32_t at = 0; at + 4 <= length; at += 4) {
    const std::array<uint8_t, 4> word{data[at], data[at + 1], data[at + 2], data[at + 3]};
    for (uint32_t i = 0; i < 4; ++i) {
      data[at + i] = word[source[i]];
    }
  }
}

}  // namespace cartdump

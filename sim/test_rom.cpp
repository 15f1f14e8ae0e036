#include "sim/test_rom.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace cartdump::sim {
namespace {

struct OrderEntry {
  std::string_view name;
  ByteOrder order;
  std::array<uint8_t, 4> source;  // byte i of each word in this order is big-order byte source[i]
};

constexpr OrderEntry kOrders[] = {
    {"big", ByteOrder::big, {0, 1, 2, 3}},
    {"byteswapped", ByteOrder::byteswapped, {1, 0, 3, 2}},
    {"little", ByteOrder::little, {3, 2, 1, 0}},
    {"wordswapped", ByteOrder::wordswapped, {2, 3, 0, 1}},
};

constexpr bool orders_indexed_by_value() {
  for (size_t i = 0; i < std::size(kOrders); ++i) {
    if (static_cast<size_t>(kOrders[i].order) != i) return false;
  }
  return true;
}
static_assert(orders_indexed_by_value());

// A fixed header field: bytes at an offset, in big order.
struct HeaderField {
  uint32_t offset;
  std::array<uint8_t, 4> bytes;
  uint8_t size;
};

constexpr HeaderField kHeaderFields[] = {
    {0x00, {0x80, 0x37, 0x12, 0x40}, 4},  // first word: marks the byte order
    {0x04, {0x00, 0x00, 0x00, 0x0F}, 4},  // clock rate
    {0x08, {0x80, 0x00, 0x04, 0x00}, 4},  // entry address
    {0x3B, {'N', 'Z', 'Z', 'E'}, 4},      // game code
};

constexpr uint32_t kTitleOffset = 0x20;
constexpr uint32_t kTitleSize = 20;
constexpr uint32_t kChecksumOffset = 0x10;

// SplitMix64: a small generator whose stream depends only on the seed.
uint64_t next_random(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint32_t big_word(std::span<const uint8_t> image, size_t offset) {
  return static_cast<uint32_t>(image[offset]) << 24 | static_cast<uint32_t>(image[offset + 1]) << 16 |
         static_cast<uint32_t>(image[offset + 2]) << 8 | image[offset + 3];
}

void put_big_word(std::span<uint8_t> image, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) {
    image[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  }
}

}  // namespace

bool byte_order_named(std::string_view name, ByteOrder& order) {
  for (const OrderEntry& entry : kOrders) {
    if (entry.name == name) {
      order = entry.order;
      return true;
    }
  }
  return false;
}

bool test_rom_size_valid(uint64_t size) {
  return size >= kTestRomHeaderSize && size % 4 == 0 && size <= UINT32_MAX;
}

std::vector<uint8_t> make_test_rom(uint64_t seed, uint32_t size) {
  std::vector<uint8_t> image(size, 0);
  uint64_t state = seed;
  for (size_t at = kTestRomHeaderSize; at < image.size(); at += 8) {
    const uint64_t value = next_random(state);
    for (size_t i = 0; i < 8 && at + i < image.size(); ++i) {
      image[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
  }
  for (const HeaderField& field : kHeaderFields) {
    std::copy_n(field.bytes.begin(), field.size, image.begin() + field.offset);
  }
  char title[kTitleSize + 1];
  std::snprintf(title, sizeof title, "TESTROM %012llX",
                static_cast<unsigned long long>(seed & 0xFFFFFFFFFFFFull));
  std::memcpy(image.data() + kTitleOffset, title, kTitleSize);
  const std::array<uint32_t, 2> checksums = test_rom_checksums(image);
  put_big_word(image, kChecksumOffset, checksums[0]);
  put_big_word(image, kChecksumOffset + 4, checksums[1]);
  return image;
}

std::array<uint32_t, 2> test_rom_checksums(std::span<const uint8_t> image) {
  uint32_t sum = 0;
  uint32_t mix = 0;
  const size_t end = std::min<size_t>(image.size() & ~size_t{3}, kTestRomChecksumEnd);
  for (size_t at = kTestRomChecksumStart; at + 4 <= end; at += 4) {
    const uint32_t word = big_word(image, at);
    sum += word;
    mix ^= std::rotl(word, static_cast<int>((at / 4) % 32));
  }
  return {sum, mix};
}

void convert_byte_order(std::span<uint8_t> image, ByteOrder order) {
  const OrderEntry& entry = kOrders[static_cast<size_t>(order)];
  for (size_t at = 0; at + 4 <= image.size(); at += 4) {
    const std::array<uint8_t, 4> word{image[at], image[at + 1], image[at + 2], image[at + 3]};
    for (size_t i = 0; i < 4; ++i) {
      image[at + i] = word[entry.source[i]];
    }
  }
}

}  // namespace cartdump::sim

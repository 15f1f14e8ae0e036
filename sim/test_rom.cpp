#include "sim/test_rom.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "rom/header.h"

namespace cartdump::sim {
namespace {

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
};

constexpr uint32_t kTitleOffset = 0x20;
constexpr uint32_t kGameIdOffset = 0x3B;
constexpr const char* kGameId = "NZZE";
constexpr uint32_t kChecksumOffset = 0x10;

// SplitMix64: a small generator whose stream depends only on the seed.
uint64_t next_random(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void put_big_word(std::span<uint8_t> image, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) {
    image[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  }
}

}  // namespace

bool byte_order_named(std::string_view name, ByteOrder& order) {
  return rom_byte_order_named(std::string(name).c_str(), &order) != 0;
}

bool test_rom_size_valid(uint64_t size) {
  return size >= kTestRomHeaderSize && size % 4 == 0 && size <= UINT32_MAX;
}

std::string test_rom_header_problem(const TestRomHeader& header, uint32_t size) {
  if (header.title.size() > kTestRomTitleSize) return "a title has at most 20 bytes";
  if (!header.game_id.empty() && header.game_id.size() != kTestRomGameIdSize) return "a game id has 4 bytes";
  if (header.family != RomChecksumFamily::none) {
    // The fixed header fields hold the entry point, which decides what the 5101 checksum reads.
    std::vector<uint8_t> start(kTestRomHeaderSize);
    for (const HeaderField& field : kHeaderFields) {
      std::copy_n(field.bytes.begin(), field.size, start.begin() + field.offset);
    }
    const uint32_t needs = rom_checksum_needs(header.family, start.data(), static_cast<uint32_t>(start.size()));
    if (size < needs) {
      return "the " + std::string(rom_family_label(header.family)) + " checksum needs an image of at least " +
             std::to_string(needs) + " bytes";
    }
  }
  return "";
}

std::vector<uint8_t> make_test_rom(uint64_t seed, uint32_t size, const TestRomHeader& header) {
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
  char title[kTestRomTitleSize + 1];
  std::snprintf(title, sizeof title, "TESTROM %012llX",
                static_cast<unsigned long long>(seed & 0xFFFFFFFFFFFFull));
  if (!header.title.empty()) {
    std::snprintf(title, sizeof title, "%-20.20s", header.title.c_str());
  }
  std::memcpy(image.data() + kTitleOffset, title, kTestRomTitleSize);
  const std::string& game_id = header.game_id.empty() ? std::string(kGameId) : header.game_id;
  std::memcpy(image.data() + kGameIdOffset, game_id.data(), kTestRomGameIdSize);
  std::array<uint32_t, 2> checksums = test_rom_checksums(image);
  if (header.family != RomChecksumFamily::none) {
    rom_checksum(header.family, image.data(), size, &checksums[0], &checksums[1]);
  }
  put_big_word(image, kChecksumOffset, checksums[0]);
  put_big_word(image, kChecksumOffset + 4, checksums[1]);
  return image;
}

std::array<uint32_t, 2> test_rom_checksums(std::span<const uint8_t> image) {
  uint32_t sum = 0;
  uint32_t mix = 0;
  const size_t end = std::min<size_t>(image.size() & ~size_t{3}, kTestRomChecksumEnd);
  for (size_t at = kTestRomChecksumStart; at + 4 <= end; at += 4) {
    const uint32_t word = rom_big_word(image.data() + at);
    sum += word;
    mix ^= std::rotl(word, static_cast<int>((at / 4) % 32));
  }
  return {sum, mix};
}

void convert_byte_order(std::span<uint8_t> image, ByteOrder order) {
  rom_convert_order(image.data(), static_cast<uint32_t>(image.size()), order);
}

}  // namespace cartdump::sim

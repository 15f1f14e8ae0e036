#include "carts/flash_id.h"

#include <algorithm>
#include <array>

namespace cartdump {
namespace {

using Letters = std::array<uint8_t, 6>;

constexpr uint32_t kLettersOffset = 32;  // CFI words 0x10-0x12
constexpr uint32_t kSizeWordOffset = 78;  // CFI word 0x27
constexpr Letters kLettersBigEndian = {0x00, 'Q', 0x00, 'R', 0x00, 'Y'};
constexpr Letters kLettersLittleEndian = {'Q', 0x00, 'R', 0x00, 'Y', 0x00};
constexpr uint32_t kHighLetterBytes[] = {33, 35, 37};

constexpr uint8_t kSmallestSizeCode = 19;  // 512 KiB
constexpr uint8_t kLargestSizeCode = 28;   // 256 MiB

constexpr std::array<uint8_t, kFlashIdSize> kKnownIds[] = {
    {0x00, 0x01, 0x22, 0x7E},
    {0x01, 0x01, 0x7E, 0x7E},
};

uint32_t size_of(const uint8_t* query, const Letters& letters, uint32_t size_code_offset) {
  if (!std::equal(letters.begin(), letters.end(), query + kLettersOffset)) {
    return 0;
  }
  const uint8_t n = query[size_code_offset];
  return n >= kSmallestSizeCode && n <= kLargestSizeCode ? uint32_t{1} << n : 0;
}

}  // namespace

uint32_t cfi_device_size_be(const uint8_t* query) {
  return size_of(query, kLettersBigEndian, kSizeWordOffset + 1);
}

uint32_t cfi_device_size_le(uint8_t* query) {
  for (const uint32_t offset : kHighLetterBytes) {
    query[offset] = 0;
  }
  return size_of(query, kLettersLittleEndian, kSizeWordOffset);
}

bool flash_id_is_known(const uint8_t* id) {
  for (const auto& known : kKnownIds) {
    if (std::equal(known.begin(), known.end(), id)) {
      return true;
    }
  }
  return false;
}

}  // namespace cartdump

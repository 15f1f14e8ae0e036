#include "carts/scrambling.h"

#include <algorithm>
#include <cstring>

#include "link/device_link.h"
#include "link/device_state.h"

namespace cartdump {

uint8_t xor_mode = 0;
std::array<uint8_t, kXorKeySize> xor_key{};

namespace {

constexpr std::array<uint32_t, 256> make_crc32_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    }
    table[i] = value;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrc32Table = make_crc32_table();
static_assert(kCrc32Table[1] == 0x77073096 && kCrc32Table[255] == 0x2D02EF8D);

constexpr char kCipherMarker[] = {'N', 'E', 'S'};  // identity blocks that take Blowfish begin so

}  // namespace

void scrambling_select() {
  std::array<uint8_t, kIdentityBlockSize> block{};
  read_reply(kIdentityOffset, block.data(), kIdentityBlockSize);
  if (std::memcmp(block.data(), kCipherMarker, sizeof kCipherMarker) != 0) {
    xor_mode = 1;
    std::copy_n(block.begin() + kXorKeyOffset, kXorKeySize, xor_key.begin());
    return;
  }
  get_device_id(block.data(), 16);
  cipher_set_key8(block.data());
}

void cipher_key_from_device_id() {
  std::array<uint8_t, 16> key{};
  get_device_id(key.data(), key.size());
  cipher_set_key8(key.data());
}

void scramble_payload_head(uint8_t* payload) {
  if (xor_mode == 1) {
    for (uint32_t k = 0; k < kScrambledHeadSize; ++k) {
      payload[k] ^= xor_key[k];
    }
  } else {
    cipher_encrypt_buffer(payload, kScrambledHeadSize);
  }
}

uint32_t crc32_update(uint32_t crc, const uint8_t* data, uint32_t length) {
  uint32_t c = crc ^ 0xFFFFFFFFu;
  for (uint32_t i = 0; i < length; ++i) {
    c = (c >> 8) ^ kCrc32Table[(c ^ data[i]) & 0xFF];
  }
  return c ^ 0xFFFFFFFFu;
}

uint32_t crc32_ieee(const uint8_t* data, uint32_t length) { return crc32_update(0, data, length); }

bool is_all_ff(const uint8_t* data, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (data[i] != 0xFF) {
      return false;
    }
  }
  return true;
}

}  // namespace cartdump

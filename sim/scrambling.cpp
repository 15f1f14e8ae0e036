#include "sim/scrambling.h"

namespace cartdump::sim {

void blowfish_unscramble(DeviceCipher& cipher, const std::array<uint8_t, 8>& key, uint8_t* head) {
  if (!cipher.keyed || cipher.key != key) {
    cipher_init(&cipher.context, key.data(), static_cast<uint32_t>(key.size()));
    cipher.key = key;
    cipher.keyed = true;
  }
  cipher_decrypt_bytes(&cipher.context, head, kScrambledHead);
}

void xor_unscramble(const uint8_t* key, uint8_t* head) {
  for (uint32_t k = 0; k < kScrambledHead; ++k) {
    head[k] ^= key[k];
  }
}

}  // namespace cartdump::sim

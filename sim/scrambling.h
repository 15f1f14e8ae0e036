// The device's side of the payload scrambling: it undoes what the host's scrambled writes did to
// the first 8 bytes of a sector's payload, with a Blowfish context of its own.
#pragma once

#include <array>
#include <cstdint>

#include "carts/cipher.h"

namespace cartdump::sim {

inline constexpr uint32_t kScrambledHead = 8;

struct DeviceCipher {
  PayloadCipher context{};
  std::array<uint8_t, 8> key{};
  bool keyed = false;
};

// Blowfish-decrypts the 8 bytes at head with a context keyed by key; the context is keyed again
// only when the key differs from the last one.
void blowfish_unscramble(DeviceCipher& cipher, const std::array<uint8_t, 8>& key, uint8_t* head);

// XORs the 8 bytes at head with key.
void xor_unscramble(const uint8_t* key, uint8_t* head);

}  // namespace cartdump::sim

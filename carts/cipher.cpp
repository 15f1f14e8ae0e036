#include "carts/cipher.h"

#include <algorithm>
#include <utility>

namespace cartdump {

PayloadCipher payload_cipher{};

namespace {

uint32_t round_function(const PayloadCipher& c, uint32_t x) {
  return ((c.s[0][x >> 24] + c.s[1][(x >> 16) & 0xFF]) ^ c.s[2][(x >> 8) & 0xFF]) + c.s[3][x & 0xFF];
}

uint32_t load_half(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void store_half(uint8_t* bytes, uint32_t half) {
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<uint8_t>(half >> (8 * i));
  }
}

enum class Direction : uint8_t { encrypt, decrypt };

void transform_bytes(const PayloadCipher* context, uint8_t* buffer, uint32_t length, Direction direction) {
  for (uint64_t offset = 0; offset + kCipherBlockSize <= length; offset += kCipherBlockSize) {
    uint32_t left = load_half(buffer + offset);
    uint32_t right = load_half(buffer + offset + 4);
    if (direction == Direction::encrypt) {
      cipher_encrypt_block(context, &left, &right);
    } else {
      cipher_decrypt_block(context, &left, &right);
    }
    store_half(buffer + offset, left);
    store_half(buffer + offset + 4, right);
  }
}

}  // namespace

void cipher_encrypt_block(const PayloadCipher* context, uint32_t* left, uint32_t* right) {
  uint32_t l = *left;
  uint32_t r = *right;
  for (uint32_t i = 0; i < kCipherRounds; ++i) {
    l ^= context->p[i];
    r ^= round_function(*context, l);
    std::swap(l, r);
  }
  std::swap(l, r);
  *right = r ^ context->p[kCipherRounds];
  *left = l ^ context->p[kCipherRounds + 1];
}

void cipher_decrypt_block(const PayloadCipher* context, uint32_t* left, uint32_t* right) {
  uint32_t l = *left;
  uint32_t r = *right;
  for (uint32_t i = kCipherRounds + 1; i > 1; --i) {
    l ^= context->p[i];
    r ^= round_function(*context, l);
    std::swap(l, r);
  }
  std::swap(l, r);
  *right = r ^ context->p[1];
  *left = l ^ context->p[0];
}

void cipher_init(PayloadCipher* context, const uint8_t* key, uint32_t key_length) {
  if (key == nullptr) {
    key_length = 0;
  }
  const uint32_t* initial = kCipherInitialTable.data();
  const uint32_t* next_box = initial + context->p.size();
  for (auto& box : context->s) {
    std::copy_n(next_box, box.size(), box.begin());
    next_box += box.size();
  }
  uint32_t j = 0;
  for (size_t i = 0; i < context->p.size(); ++i) {
    uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      word = word << 8 | (key_length > 0 ? key[j] : 0);
      if (++j >= key_length) {
        j = 0;
      }
    }
    context->p[i] = initial[i] ^ word;
  }
  uint32_t left = 0;
  uint32_t right = 0;
  for (size_t i = 0; i < context->p.size(); i += 2) {
    cipher_encrypt_block(context, &left, &right);
    context->p[i] = left;
    context->p[i + 1] = right;
  }
  for (auto& box : context->s) {
    for (size_t k = 0; k < box.size(); k += 2) {
      cipher_encrypt_block(context, &left, &right);
      box[k] = left;
      box[k + 1] = right;
    }
  }
}

void cipher_set_key(const uint8_t* key, uint32_t key_length) { cipher_init(&payload_cipher, key, key_length); }

void cipher_set_key8(const uint8_t* key) { cipher_set_key(key, 8); }

void cipher_encrypt_bytes(const PayloadCipher* context, uint8_t* buffer, uint32_t length) {
  transform_bytes(context, buffer, length, Direction::encrypt);
}

void cipher_decrypt_bytes(const PayloadCipher* context, uint8_t* buffer, uint32_t length) {
  transform_bytes(context, buffer, length, Direction::decrypt);
}

void cipher_encrypt_buffer(uint8_t* buffer, uint32_t length) { cipher_encrypt_bytes(&payload_cipher, buffer, length); }

void cipher_decrypt_buffer(uint8_t* buffer, uint32_t length) { cipher_decrypt_bytes(&payload_cipher, buffer, length); }

}  // namespace cartdump

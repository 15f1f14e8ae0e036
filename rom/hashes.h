// The hashes of a whole image: CRC-32 (the library's own, crc32_update of carts/scrambling.h), and
// MD5, SHA-1 and SHA-256 through libgcrypt. They are taken incrementally, so that an image can be
// hashed as its pieces pass: rom_hash_begin, any number of rom_hash_update, then rom_hash_end, which
// also frees what begin took. The caller hands the bytes in the order it wants hashed (the report
// hashes big order).
#pragma once

#include <array>
#include <cstdint>

namespace cartdump {

inline constexpr uint32_t kMd5Size = 16;
inline constexpr uint32_t kSha1Size = 20;
inline constexpr uint32_t kSha256Size = 32;

struct RomHashes {
  uint32_t crc32;
  std::array<uint8_t, kMd5Size> md5;
  std::array<uint8_t, kSha1Size> sha1;
  std::array<uint8_t, kSha256Size> sha256;
};

struct RomHashState {
  uint32_t crc32;
  void* digests;  // libgcrypt's digest handle; null before begin and after end
};

// Starts the hashes of a new image. Returns 1, or 0 when libgcrypt could not be started or gave no
// handle (update then takes only the CRC-32 and end returns 0).
int rom_hash_begin(RomHashState* state);
void rom_hash_update(RomHashState* state, const uint8_t* data, uint32_t length);
// Fills hashes, frees the handle and returns 1; 0 when begin had failed (the digests are then zero).
int rom_hash_end(RomHashState* state, RomHashes* hashes);

// All four of length bytes at once.
int rom_hashes_of(const uint8_t* data, uint32_t length, RomHashes* hashes);

// The MD5 of length bytes into out (kMd5Size bytes). Returns 1, or 0 when libgcrypt could not be
// started (out is then zero).
int rom_md5(const uint8_t* data, uint32_t length, uint8_t* out);

// Lowercase hexadecimal of count bytes into out, which holds 2 * count + 1 characters.
void rom_hex(const uint8_t* bytes, uint32_t count, char* out);

}  // namespace cartdump

#include "rom/hashes.h"

#include <gcrypt.h>

#include <cstring>

#include "carts/scrambling.h"

namespace cartdump {
namespace {

constexpr int kDigests[] = {GCRY_MD_MD5, GCRY_MD_SHA1, GCRY_MD_SHA256};

// libgcrypt wants its version checked once before any other call; the process has no secret to
// keep, so no secure memory either.
bool gcrypt_ready() {
  static const bool ready = [] {
    if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) != 0) return true;
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  return ready;
}

}  // namespace

int rom_hash_begin(RomHashState* state) {
  state->crc32 = 0;
  state->digests = nullptr;
  if (!gcrypt_ready()) return 0;
  gcry_md_hd_t handle = nullptr;
  if (gcry_md_open(&handle, 0, 0) != 0) return 0;
  for (const int algorithm : kDigests) {
    if (gcry_md_enable(handle, algorithm) != 0) {
      gcry_md_close(handle);
      return 0;
    }
  }
  state->digests = handle;
  return 1;
}

void rom_hash_update(RomHashState* state, const uint8_t* data, uint32_t length) {
  state->crc32 = crc32_update(state->crc32, data, length);
  if (state->digests != nullptr) gcry_md_write(static_cast<gcry_md_hd_t>(state->digests), data, length);
}

int rom_hash_end(RomHashState* state, RomHashes* hashes) {
  *hashes = RomHashes{};
  hashes->crc32 = state->crc32;
  if (state->digests == nullptr) return 0;
  const auto handle = static_cast<gcry_md_hd_t>(state->digests);
  std::memcpy(hashes->md5.data(), gcry_md_read(handle, GCRY_MD_MD5), kMd5Size);
  std::memcpy(hashes->sha1.data(), gcry_md_read(handle, GCRY_MD_SHA1), kSha1Size);
  std::memcpy(hashes->sha256.data(), gcry_md_read(handle, GCRY_MD_SHA256), kSha256Size);
  gcry_md_close(handle);
  state->digests = nullptr;
  return 1;
}

int rom_hashes_of(const uint8_t* data, uint32_t length, RomHashes* hashes) {
  RomHashState state{};
  rom_hash_begin(&state);
  rom_hash_update(&state, data, length);
  return rom_hash_end(&state, hashes);
}

int rom_md5(const uint8_t* data, uint32_t length, uint8_t* out) {
  if (!gcrypt_ready()) {
    std::memset(out, 0, kMd5Size);
    return 0;
  }
  gcry_md_hash_buffer(GCRY_MD_MD5, out, data, length);
  return 1;
}

void rom_hex(const uint8_t* bytes, uint32_t count, char* out) {
  constexpr char kDigits[] = "0123456789abcdef";
  for (uint32_t i = 0; i < count; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  out[2 * count] = '\0';
}

}  // namespace cartdump

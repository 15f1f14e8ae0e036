// Flash identification over any bytes read off a cartridge: the two CFI size functions on any
// 80-byte query block, and the known-code test on any 4 bytes. Each result is compared with a
// plain reading of the block: the size is 0 or 2^n for a size code n of 19 to 28, and only when
// the letters are in place; the little-endian form changes exactly bytes 33, 35 and 37 of the
// caller's block. The block is handed over in a buffer of exactly 80 bytes, so a read past it is a
// finding.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "carts/flash_id.h"
#include "fuzz/support/fuzz_check.h"

namespace {

using cartdump::kCfiQueryBlockSize;
using cartdump::kFlashIdSize;

uint32_t size_from_code(uint8_t n) { return n >= 19 && n <= 28 ? uint32_t{1} << n : 0; }

uint32_t expected_be(const uint8_t* q) {
  const bool letters = q[32] == 0 && q[33] == 'Q' && q[34] == 0 && q[35] == 'R' && q[36] == 0 && q[37] == 'Y';
  return letters ? size_from_code(q[79]) : 0;
}

// The high bytes of the letter words do not count.
uint32_t expected_le(const uint8_t* q) {
  const bool letters = q[32] == 'Q' && q[34] == 'R' && q[36] == 'Y';
  return letters ? size_from_code(q[78]) : 0;
}

bool plausible_size(uint32_t size) {
  return size == 0 || (size >= (1u << 19) && size <= (1u << 28) && (size & (size - 1)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::array<uint8_t, kCfiQueryBlockSize> block{};
  std::copy_n(data, std::min<size_t>(size, block.size()), block.begin());
  const auto exact = std::make_unique<uint8_t[]>(kCfiQueryBlockSize);

  std::copy(block.begin(), block.end(), exact.get());
  const uint32_t be = cartdump::cfi_device_size_be(exact.get());
  FUZZ_CHECK(plausible_size(be), "cfi_device_size_be gave 0x%X", be);
  FUZZ_CHECK(be == expected_be(block.data()), "cfi_device_size_be gave 0x%X, expected 0x%X", be,
             expected_be(block.data()));
  FUZZ_CHECK(std::equal(block.begin(), block.end(), exact.get()), "cfi_device_size_be changed the block");

  const uint32_t le = cartdump::cfi_device_size_le(exact.get());
  FUZZ_CHECK(plausible_size(le), "cfi_device_size_le gave 0x%X", le);
  FUZZ_CHECK(le == expected_le(block.data()), "cfi_device_size_le gave 0x%X, expected 0x%X", le,
             expected_le(block.data()));
  for (uint32_t i = 0; i < kCfiQueryBlockSize; ++i) {
    const bool cleared = i == 33 || i == 35 || i == 37;
    FUZZ_CHECK(exact[i] == (cleared ? 0 : block[i]), "cfi_device_size_le left byte %u as 0x%02X", i, exact[i]);
  }

  // The identification: the 4 bytes after the block, or the block's first 4 when the input is short.
  const auto id = std::make_unique<uint8_t[]>(kFlashIdSize);
  const uint8_t* source = size >= kCfiQueryBlockSize + kFlashIdSize ? data + kCfiQueryBlockSize : block.data();
  std::memcpy(id.get(), source, kFlashIdSize);
  const bool known = cartdump::flash_id_is_known(id.get());
  const uint8_t a[] = {0x00, 0x01, 0x22, 0x7E};
  const uint8_t b[] = {0x01, 0x01, 0x7E, 0x7E};
  const bool expected = std::memcmp(id.get(), a, 4) == 0 || std::memcmp(id.get(), b, 4) == 0;
  FUZZ_CHECK(known == expected, "flash_id_is_known gave %d for %02X %02X %02X %02X", known, id[0], id[1], id[2], id[3]);
  return 0;
}

// How a read that bypasses the host's file cache meets the alignment such reads demand: memory,
// file offset and length in whole blocks. A request that already is aligned goes straight into
// the caller's memory; any other goes through an aligned bounce buffer covering the whole blocks
// around it, and only the requested bytes are copied out. Shared by the platforms' file
// primitives, which do the opening and the one read themselves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace cartdump {

// A multiple of every logical block and sector size in use, for memory as for the file.
inline constexpr uint64_t kUnbufferedAlignment = 4096;

struct UnbufferedRead {
  bool straight;         // the read goes into the caller's memory as asked
  uint64_t file_offset;  // where the one read starts in the file
  uint64_t span;         // how many bytes it asks for
  uint64_t lead;         // the requested bytes' place within a bounce buffer
};

inline UnbufferedRead plan_unbuffered_read(const uint8_t* destination, uint32_t length, uint32_t offset) {
  const auto aligned = [](uint64_t value) { return value % kUnbufferedAlignment == 0; };
  if (aligned(reinterpret_cast<uintptr_t>(destination)) && aligned(offset) && aligned(length)) {
    return {true, offset, length, 0};
  }
  const uint64_t start = offset - offset % kUnbufferedAlignment;
  const uint64_t end = (uint64_t{offset} + length + kUnbufferedAlignment - 1) / kUnbufferedAlignment *
                       kUnbufferedAlignment;
  return {false, start, end - start, offset - start};
}

struct AlignedDelete {
  void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t{kUnbufferedAlignment}); }
};
using BounceBuffer = std::unique_ptr<uint8_t[], AlignedDelete>;

// An aligned bounce buffer of span bytes; empty when there is no memory for it.
inline BounceBuffer bounce_buffer(uint64_t span) {
  return BounceBuffer(new (std::align_val_t{kUnbufferedAlignment}, std::nothrow) uint8_t[span]);
}

// Copies the requested bytes out of a bounce buffer into which the read delivered got bytes;
// returns how many of the length requested bytes there were.
inline uint32_t copy_from_bounce(const UnbufferedRead& plan, const uint8_t* bounce, uint64_t got,
                                 uint8_t* destination, uint32_t length) {
  const auto n = static_cast<uint32_t>(std::min<uint64_t>(length, got > plan.lead ? got - plan.lead : 0));
  if (n > 0) {
    std::memcpy(destination, bounce + plan.lead, n);
  }
  return n;
}

}  // namespace cartdump

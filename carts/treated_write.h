// The bulk writes whose chunks are treated on their way into the batch: each chunk, once in place,
// is tested for blankness on the bytes the caller gave, then its first 8 payload bytes are
// scrambled. A blank chunk is left out of the batch. The chunking, the addressing and the batch
// are the plain bulk write's (link/command_patterns.h); only the treatment is added here.
#pragma once

#include <algorithm>
#include <cstdint>

#include "carts/scrambling.h"
#include "link/command_patterns.h"

namespace cartdump {

// What a bulk write does to the first 8 payload bytes of each sector once its chunk is in place.
enum class Scrambling : uint8_t {
  none,
  payload_head,  // scramble_payload_head: XOR in XOR mode, else Blowfish
  cipher,        // cipher_encrypt_buffer: always Blowfish
};

// How a bulk write recognises a blank chunk, which it leaves out.
enum class BlankTest : uint8_t {
  none,
  area_crc,  // the CRC-32 of the sector's whole 480-byte payload area is that of 480 bytes of 0xFF
  all_ff,    // the caller's n bytes of the chunk are all 0xFF
};

struct TreatedBulkShape {
  BulkShape bulk;
  Scrambling scrambling = Scrambling::none;
  BlankTest blank_test = BlankTest::none;
};

// Every chunk ends at or before byte 509, before the CRC, and so do the areas that scrambling and
// the blank test cover.
constexpr bool treated_bulk_shape_fits(const TreatedBulkShape& shape) {
  const uint32_t scrambled = shape.scrambling == Scrambling::none ? 0 : kScrambledHeadSize;
  const uint32_t tested = shape.blank_test == BlankTest::area_crc ? kBlankAreaSize : 0;
  const uint32_t covered = std::max<uint32_t>({shape.bulk.chunk, scrambled, tested});
  return shape.bulk.command.payload_offset + covered <= kSectorCrcOffset;
}

// bulk_write of count bytes of source with each chunk treated as the shape says. A blank chunk is
// left out: its slot is taken by the next chunk without being cleared (the next chunk's fields and
// bytes overwrite it, the bytes after them keep what the blank chunk put there, its scrambled head
// included), while the address still advances past it; only the slots in use are sent, so a write
// of nothing but blank chunks sends an empty batch. Returns the result of the send; 0, with nothing
// sent, when the batch would pass 2 GiB or cannot be allocated.
int treated_bulk_write(const TreatedBulkShape& shape, uint32_t address, const uint8_t* source, uint32_t count);

}  // namespace cartdump

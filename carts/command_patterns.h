// The three shapes every command group's operations take, written once:
//   - a single-sector command: one zeroed sector, its fields set, one send; a single read then
//     takes its reply at offset 0 of the reply file;
//   - a ranged read: one sector and one reply read per request of at most 8192 bytes, the address
//     advancing by the request;
//   - a bulk write: the payload cut into fixed chunks, one sector per chunk, all sectors in one heap
//     SectorBatch and one send.
// A group's operation is a definition of where its fields sit, handed to one of these.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>

#include "carts/scrambling.h"
#include "link/sector.h"

namespace cartdump {

// A little-endian field of a command sector: width bytes (0 to 4) at offset, carrying the value
// shifted right by shift bits. Bits beyond the width are dropped, so a 16-bit address field wraps
// at 0x10000 and a 24-bit one drops bits 24-31. A width of 0 is no field.
struct SectorField {
  uint16_t offset = 0;
  uint8_t width = 0;
  uint8_t shift = 0;
};

struct FieldValue {
  SectorField field;
  uint32_t value;
};

void put_field(uint8_t* sector, SectorField field, uint32_t value);

// The fields every sector of a ranged read or a bulk write repeats.
struct CommandShape {
  uint8_t group = 0;
  uint8_t command = 0;
  SectorField address;        // the running address
  SectorField upper_address;  // a second field cut from the same running address, if any
  SectorField length;         // the bytes this sector's request or chunk moves
  uint16_t payload_offset = 0;
};

// Single-sector command -----------------------------------------------------------------------

// A reply block: a single read's sector is built in it and its reply read into it.
using ReplyBlock = std::array<uint8_t, 1024>;

CommandSector make_sector(uint8_t group, uint8_t command, std::initializer_list<FieldValue> fields);

// send_sectors of one sector; returns what it returns.
int send_sector(CommandSector& sector);

// One sector with the given fields, sent alone. Returns the result of the send.
int send_command(uint8_t group, uint8_t command, std::initializer_list<FieldValue> fields = {});

// One sector with the given fields, sent alone, then reply_length bytes (at most 1024) of the reply
// file at offset 0 read into the block the sector was built in.
ReplyBlock query_command(uint8_t group, uint8_t command, std::initializer_list<FieldValue> fields,
                         uint32_t reply_length);

// Ranged read ------------------------------------------------------------------------------------

inline constexpr uint32_t kReadChunk = 8192;

// Reads length bytes from address into destination, one request of at most 8192 bytes after the
// other; each request's reply lands at destination + its offset. The sector starts as preset
// (fields every request repeats, such as an entry list) and is not cleared between requests.
// Returns the bytes the replies delivered, length when every request was answered in full.
uint32_t ranged_read(const CommandShape& shape, uint32_t address, uint8_t* destination,
                     uint32_t length, const CommandSector& preset = CommandSector{});

// Bulk write -------------------------------------------------------------------------------------

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

struct BulkShape {
  CommandShape command;
  uint16_t chunk = 0;               // payload bytes per sector; 1 for one value per sector
  uint8_t first_address_shift = 0;  // the first sector carries address >> first_address_shift
  uint8_t advance_shift = 0;        // the address advances by n >> advance_shift per chunk
  Scrambling scrambling = Scrambling::none;
  BlankTest blank_test = BlankTest::none;
};

// Every chunk ends at or before byte 509, before the CRC, and so do the areas that scrambling and
// the blank test cover.
constexpr bool bulk_shape_fits(const BulkShape& shape) {
  const uint32_t scrambled = shape.scrambling == Scrambling::none ? 0 : kScrambledHeadSize;
  const uint32_t tested = shape.blank_test == BlankTest::area_crc ? kBlankAreaSize : 0;
  const uint32_t covered = std::max<uint32_t>({shape.chunk, scrambled, tested});
  return shape.command.payload_offset + covered <= kSectorCrcOffset;
}

// Writes count bytes of source in one batch: ceil(count / chunk) sectors, each carrying the
// command's fields, the constants and its chunk at the payload offset, all sent in one
// send_sectors (of length 0 when count is 0). Each sector's payload head is scrambled as the shape
// says. A blank chunk is left out: its slot is taken by the next chunk without being cleared (the
// next chunk's fields and bytes overwrite it, the bytes after them keep what the blank chunk put
// there), while the address still advances past it; only the slots in use are sent, so a write of
// nothing but blank chunks sends an empty batch. Returns the result of the send; 0, with nothing
// sent, when the batch would pass 2 GiB or cannot be allocated.
int bulk_write(const BulkShape& shape, uint32_t address, const uint8_t* source, uint32_t count,
               std::initializer_list<FieldValue> constants = {});

}  // namespace cartdump

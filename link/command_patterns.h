// The three shapes every command takes on its way over the drive file link, the device's service
// commands' and every cartridge command group's alike, written once:
//   - a single-sector command: one zeroed sector, its fields set, one send; a single read then
//     takes its reply at offset 0 of the reply file;
//   - a ranged read: one sector and one reply read per request of at most 8192 bytes, the address
//     advancing by the request;
//   - a bulk write: the payload cut into fixed chunks, one sector per chunk, all sectors in one heap
//     SectorBatch and one send.
// An operation is a definition of where its fields sit, handed to one of these.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "link/device_link.h"
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
using ReplyBlock = std::array<uint8_t, kReplyBlockSize>;

CommandSector make_sector(uint8_t group, uint8_t command, std::initializer_list<FieldValue> fields);

// send_sectors of one sector; returns what it returns.
int send_sector(CommandSector& sector);

// One sector with the given fields, sent alone. Returns the result of the send.
int send_command(uint8_t group, uint8_t command, std::initializer_list<FieldValue> fields = {});

// One sector with the given fields, sent alone, then reply_length bytes (at most 1024) of the reply
// file at offset 0 read into the block the sector was built in. A read of up to 1024 bytes is one
// 1024-byte read of the device whatever its length (read_reply), so the whole block is the usual
// reply; a shorter one leaves the block's later bytes as the sector had them.
ReplyBlock query_command(uint8_t group, uint8_t command, std::initializer_list<FieldValue> fields = {},
                         uint32_t reply_length = kReplyBlockSize);

// Ranged read ------------------------------------------------------------------------------------

inline constexpr uint32_t kReadChunk = 8192;

// Reads length bytes from address into destination, one request of at most 8192 bytes after the
// other; each request's reply lands at destination + its offset. The sector starts as preset
// (fields every request repeats, such as an entry list) and is not cleared between requests.
// Returns the bytes the replies delivered, length when every request was answered in full. A
// request whose sector could not be sent in full (the send returned less than 512) delivers
// nothing: its reply is not read, the requests after it are not sent, and file_error_text() names
// the failed write's reason.
uint32_t ranged_read(const CommandShape& shape, uint32_t address, uint8_t* destination,
                     uint32_t length, const CommandSector& preset = CommandSector{});

// Bulk write -------------------------------------------------------------------------------------

struct BulkShape {
  CommandShape command;
  uint16_t chunk = 0;               // payload bytes per sector; 1 for one value per sector
  uint8_t first_address_shift = 0;  // the first sector carries address >> first_address_shift
  uint8_t advance_shift = 0;        // the address advances by n >> advance_shift per chunk
};

// Every chunk ends at or before byte 509, before the CRC.
constexpr bool bulk_shape_fits(const BulkShape& shape) {
  return shape.command.payload_offset + uint32_t{shape.chunk} <= kSectorCrcOffset;
}

// A bulk write's batch while it is filled: one zeroed slot of 512 bytes per chunk, the chunks
// placed one after the other. A chunk goes into the slot after the last one kept; a chunk that is
// not kept leaves its bytes in that slot for the next chunk to overwrite.
struct BulkBatch {
  const BulkShape* shape = nullptr;
  const FieldValue* constants = nullptr;  // fields every sector carries besides the shape's
  uint32_t constant_count = 0;
  const uint8_t* source = nullptr;
  uint32_t count = 0;
  uint64_t placed = 0;        // source bytes placed so far
  uint32_t address = 0;       // the running address, as the next sector carries it
  uint32_t chunk_length = 0;  // the bytes of the chunk placed last
  uint64_t kept = 0;          // slots kept
  std::unique_ptr<uint8_t[]> sectors;
};

// Makes the batch for count bytes of source: ceil(count / chunk) zeroed slots. The shape, the
// source and the constant_count constants stay the caller's, to be kept until the last chunk is
// placed. Returns 1, or 0 when the batch would pass 2 GiB or cannot be allocated.
int bulk_begin(BulkBatch& batch, const BulkShape& shape, uint32_t address, const uint8_t* source, uint32_t count,
               const FieldValue* constants = nullptr, uint32_t constant_count = 0);

// Places the next chunk in the slot after the kept ones: group, command, the constants, the running
// address (and its upper field), the chunk's length in chunk_length and its bytes at the payload
// offset; then advances the address by chunk_length >> advance_shift. Returns the chunk's place in
// the slot (the payload offset), or null once every chunk is placed.
uint8_t* bulk_place_next(BulkBatch& batch);

// Keeps the chunk placed last: the next chunk goes into the next slot.
void bulk_keep(BulkBatch& batch);

// Sends the kept slots in one send_sectors (of length 0 when none was kept) and returns its result.
int bulk_send(BulkBatch& batch);

// Writes count bytes of source in one batch: ceil(count / chunk) sectors, each carrying the
// command's fields, the constants and its chunk at the payload offset, all sent in one
// send_sectors (of length 0 when count is 0). Returns the result of the send; 0, with nothing
// sent, when the batch would pass 2 GiB or cannot be allocated.
int bulk_write(const BulkShape& shape, uint32_t address, const uint8_t* source, uint32_t count,
               std::initializer_list<FieldValue> constants = {});

}  // namespace cartdump

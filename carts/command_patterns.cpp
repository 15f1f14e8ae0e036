#include "carts/command_patterns.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "carts/scrambling.h"
#include "link/device_link.h"

namespace cartdump {

void put_field(uint8_t* sector, SectorField field, uint32_t value) {
  const uint32_t shifted = field.shift < 32 ? value >> field.shift : 0;
  for (uint8_t i = 0; i < field.width; ++i) {
    sector[field.offset + i] = static_cast<uint8_t>(shifted >> (8 * i));
  }
}

namespace {

void put_fields(uint8_t* sector, std::initializer_list<FieldValue> fields) {
  for (const FieldValue& f : fields) {
    put_field(sector, f.field, f.value);
  }
}

void put_header(uint8_t* sector, uint8_t group, uint8_t command) {
  sector[1] = group;
  sector[2] = command;
}

// Whether the chunk just placed in sector is blank; chunk points at the caller's n bytes of it.
bool is_blank_chunk(BlankTest test, const uint8_t* payload, const uint8_t* chunk, uint32_t n) {
  switch (test) {
    case BlankTest::none:
      return false;
    case BlankTest::area_crc:
      return crc32_ieee(payload, kBlankAreaSize) == kBlankAreaCrc;
    case BlankTest::all_ff:
      return is_all_ff(chunk, n);
  }
  return false;
}

void scramble_head(Scrambling scrambling, uint8_t* payload) {
  switch (scrambling) {
    case Scrambling::none:
      return;
    case Scrambling::payload_head:
      scramble_payload_head(payload);
      return;
    case Scrambling::cipher:
      cipher_encrypt_buffer(payload, kScrambledHeadSize);
      return;
  }
}

}  // namespace

CommandSector make_sector(uint8_t group, uint8_t command, std::initializer_list<FieldValue> fields) {
  CommandSector sector{};
  put_header(sector.data(), group, command);
  put_fields(sector.data(), fields);
  return sector;
}

int send_sector(CommandSector& sector) { return send_sectors(sector.data(), kSectorSize); }

int send_command(uint8_t group, uint8_t command, std::initializer_list<FieldValue> fields) {
  CommandSector sector = make_sector(group, command, fields);
  return send_sector(sector);
}

ReplyBlock query_command(uint8_t group, uint8_t command, std::initializer_list<FieldValue> fields,
                         uint32_t reply_length) {
  ReplyBlock block{};
  put_header(block.data(), group, command);
  put_fields(block.data(), fields);
  send_sectors(block.data(), kSectorSize);
  read_reply(0, block.data(), std::min<uint32_t>(reply_length, block.size()));
  return block;
}

uint32_t ranged_read(const CommandShape& shape, uint32_t address, uint8_t* destination,
                     uint32_t length, const CommandSector& preset) {
  CommandSector sector = preset;
  uint32_t delivered = 0;
  for (uint64_t offset = 0; offset < length; offset += kReadChunk) {
    const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(kReadChunk, length - offset));
    put_header(sector.data(), shape.group, shape.command);
    put_field(sector.data(), shape.address, address);
    put_field(sector.data(), shape.upper_address, address);
    put_field(sector.data(), shape.length, chunk);
    send_sector(sector);
    const int n = read_reply(0, destination + offset, chunk);
    delivered += n > 0 ? static_cast<uint32_t>(n) : 0;
    address += chunk;
  }
  return delivered;
}

int bulk_write(const BulkShape& shape, uint32_t address, const uint8_t* source, uint32_t count,
               std::initializer_list<FieldValue> constants) {
  const uint32_t chunk = std::max<uint32_t>(shape.chunk, 1);
  const uint64_t sectors = (static_cast<uint64_t>(count) + chunk - 1) / chunk;
  const uint64_t bytes = sectors * kSectorSize;
  if (bytes > static_cast<uint64_t>(std::numeric_limits<int>::max())) {
    return 0;
  }
  std::unique_ptr<uint8_t[]> batch(new (std::nothrow) uint8_t[std::max<uint64_t>(bytes, 1)]());
  if (!batch) {
    return 0;
  }
  const CommandShape& c = shape.command;
  address >>= shape.first_address_shift;
  uint64_t slot = 0;
  for (uint64_t offset = 0; offset < count; offset += chunk) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(chunk, count - offset));
    uint8_t* sector = batch.get() + slot * kSectorSize;
    put_header(sector, c.group, c.command);
    put_fields(sector, constants);
    put_field(sector, c.address, address);
    put_field(sector, c.upper_address, address);
    put_field(sector, c.length, n);
    uint8_t* payload = sector + c.payload_offset;
    std::memcpy(payload, source + offset, n);
    // The blank test looks at the data as the caller gave it, before scrambling.
    const bool blank = is_blank_chunk(shape.blank_test, payload, source + offset, n);
    scramble_head(shape.scrambling, payload);
    address += n >> shape.advance_shift;
    if (!blank) {
      ++slot;
    }
  }
  return send_sectors(batch.get(), static_cast<uint32_t>(slot * kSectorSize));
}

}  // namespace cartdump

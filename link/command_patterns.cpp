#include "link/command_patterns.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>

#include "link/device_link.h"

namespace cartdump {

void put_field(uint8_t* sector, SectorField field, uint32_t value) {
  const uint32_t shifted = field.shift < 32 ? value >> field.shift : 0;
  for (uint8_t i = 0; i < field.width; ++i) {
    sector[field.offset + i] = static_cast<uint8_t>(shifted >> (8 * i));
  }
}

namespace {

void put_fields(uint8_t* sector, std::span<const FieldValue> fields) {
  for (const FieldValue& f : fields) {
    put_field(sector, f.field, f.value);
  }
}

void put_header(uint8_t* sector, uint8_t group, uint8_t command) {
  sector[1] = group;
  sector[2] = command;
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
    if (send_sector(sector) != static_cast<int>(kSectorSize)) {
      // The command did not reach the device, so the reply file still holds an earlier reply:
      // nothing of it is taken, and the failed write stays the link's last error.
      break;
    }
    const int n = read_reply(0, destination + offset, chunk);
    delivered += n > 0 ? static_cast<uint32_t>(n) : 0;
    address += chunk;
  }
  return delivered;
}

int bulk_begin(BulkBatch& batch, const BulkShape& shape, uint32_t address, const uint8_t* source, uint32_t count,
               const FieldValue* constants, uint32_t constant_count) {
  const uint32_t chunk = std::max<uint32_t>(shape.chunk, 1);
  const uint64_t sectors = (static_cast<uint64_t>(count) + chunk - 1) / chunk;
  const uint64_t bytes = sectors * kSectorSize;
  if (bytes > static_cast<uint64_t>(std::numeric_limits<int>::max())) {
    return 0;
  }
  batch.sectors.reset(new (std::nothrow) uint8_t[std::max<uint64_t>(bytes, 1)]());
  if (!batch.sectors) {
    return 0;
  }
  batch.shape = &shape;
  batch.constants = constants;
  batch.constant_count = constant_count;
  batch.source = source;
  batch.count = count;
  batch.placed = 0;
  batch.address = address >> shape.first_address_shift;
  batch.chunk_length = 0;
  batch.kept = 0;
  return 1;
}

uint8_t* bulk_place_next(BulkBatch& batch) {
  if (batch.placed >= batch.count) {
    return nullptr;
  }
  const BulkShape& shape = *batch.shape;
  const CommandShape& c = shape.command;
  const uint32_t chunk = std::max<uint32_t>(shape.chunk, 1);
  const auto n = static_cast<uint32_t>(std::min<uint64_t>(chunk, batch.count - batch.placed));
  uint8_t* sector = batch.sectors.get() + batch.kept * kSectorSize;
  put_header(sector, c.group, c.command);
  put_fields(sector, std::span<const FieldValue>(batch.constants, batch.constant_count));
  put_field(sector, c.address, batch.address);
  put_field(sector, c.upper_address, batch.address);
  put_field(sector, c.length, n);
  uint8_t* payload = sector + c.payload_offset;
  std::memcpy(payload, batch.source + batch.placed, n);
  batch.placed += n;
  batch.chunk_length = n;
  batch.address += n >> shape.advance_shift;
  return payload;
}

void bulk_keep(BulkBatch& batch) { ++batch.kept; }

int bulk_send(BulkBatch& batch) {
  return send_sectors(batch.sectors.get(), static_cast<uint32_t>(batch.kept * kSectorSize));
}

int bulk_write(const BulkShape& shape, uint32_t address, const uint8_t* source, uint32_t count,
               std::initializer_list<FieldValue> constants) {
  BulkBatch batch;
  const auto constant_count = static_cast<uint32_t>(constants.size());
  if (bulk_begin(batch, shape, address, source, count, constants.begin(), constant_count) == 0) {
    return 0;
  }
  while (bulk_place_next(batch) != nullptr) {
    bulk_keep(batch);
  }
  return bulk_send(batch);
}

}  // namespace cartdump

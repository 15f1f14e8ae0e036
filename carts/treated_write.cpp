#include "carts/treated_write.h"

#include "carts/cipher.h"
#include "carts/scrambling.h"

namespace cartdump {
namespace {

// Whether the chunk just placed at payload, n bytes of the caller's, is blank.
bool is_blank_chunk(BlankTest test, const uint8_t* payload, uint32_t n) {
  switch (test) {
    case BlankTest::none:
      return false;
    case BlankTest::area_crc:
      return crc32_ieee(payload, kBlankAreaSize) == kBlankAreaCrc;
    case BlankTest::all_ff:
      return is_all_ff(payload, n);
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

int treated_bulk_write(const TreatedBulkShape& shape, uint32_t address, const uint8_t* source, uint32_t count) {
  BulkBatch batch;
  if (bulk_begin(batch, shape.bulk, address, source, count) == 0) {
    return 0;
  }
  while (uint8_t* payload = bulk_place_next(batch)) {
    // The blank test looks at the data as the caller gave it, before scrambling.
    const bool blank = is_blank_chunk(shape.blank_test, payload, batch.chunk_length);
    scramble_head(shape.scrambling, payload);
    if (!blank) {
      bulk_keep(batch);
    }
  }
  return bulk_send(batch);
}

}  // namespace cartdump

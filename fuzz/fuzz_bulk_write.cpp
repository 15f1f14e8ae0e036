// Every bulk write of every group, and the single-sector builders that take a caller's count, over
// any address, count and data, in either scrambling mode with any key. Each sector actually sent is
// compared byte for byte with the sector worked out from the command's layout (the reference below,
// written per sector rather than per batch): marker 0x5A and the CRC-16, group and command, the
// address and length fields at their offsets and widths with the running address, the chunk at the
// payload offset with its 8-byte head scrambled where the command scrambles, blank chunks left out
// and their slots reused, zeros everywhere else up to byte 509. The batch goes out in one write
// of exactly its used sectors.
//
// Counts stay small enough that a run allocates at most about a megabyte, except for the counts
// just above the batch limit (2 GiB): there the write must send nothing and touch nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "carts/cipher.h"
#include "carts/group_0e.h"
#include "carts/group_0f.h"
#include "carts/group_10.h"
#include "carts/group_11.h"
#include "carts/group_13.h"
#include "carts/group_14.h"
#include "carts/scrambling.h"
#include "fuzz/support/fuzz_check.h"
#include "link/device_link.h"
#include "link/device_state.h"
#include "link/sector.h"
#include "link/service.h"
#include "tests/support/memory_drive.h"

namespace cartdump::fuzz {
namespace {

using namespace test;
using Sector = std::array<uint8_t, kSectorSize>;

struct Field {
  uint16_t offset = 0;
  uint8_t width = 0;  // little-endian bytes; 0: no field
};

enum class Scramble : uint8_t { none, payload_head, cipher };
enum class Blank : uint8_t { none, area_ff, chunk_ff };

struct Call {
  uint32_t address;
  const uint8_t* source;
  uint32_t count;
  uint8_t selector;
  uint8_t bank;
};

// One bulk write as its command's layout describes it.
struct BulkWrite {
  const char* name;
  uint8_t group;
  uint8_t command;
  Field address;
  Field length;
  uint16_t payload;
  uint32_t chunk;
  uint32_t max_count;     // the width of the count parameter
  uint32_t address_mask;  // the width of the address parameter
  uint8_t first_shift = 0;
  uint8_t advance_shift = 0;
  Scramble scramble = Scramble::none;
  Blank blank = Blank::none;
  bool takes_selector_and_bank = false;  // selector at 3, bank at 4 in every sector
  int (*run)(const Call&) = nullptr;
};

constexpr uint32_t k16 = 0xFFFF;
constexpr uint32_t k32 = 0xFFFFFFFF;

const BulkWrite kBulkWrites[] = {
    {"n64_write", 0x10, 0x04, {3, 4}, {7, 2}, 9, 500, k32, k32, 0, 0, Scramble::none, Blank::none, false,
     [](const Call& c) { return n64_write(c.address, c.source, c.count); }},
    {"g0e_write_05", 0x0E, 0x05, {4, 2}, {8, 2}, 12, 498, k16, k16, 0, 0, Scramble::none, Blank::none, false,
     [](const Call& c) { return g0e_write_05(uint16_t(c.address), c.source, uint16_t(c.count)); }},
    {"g0e_write_08", 0x0E, 0x08, {4, 2}, {8, 2}, 12, 498, k16, k16, 0, 0, Scramble::none, Blank::none, false,
     [](const Call& c) { return g0e_write_08(uint16_t(c.address), c.source, uint16_t(c.count)); }},
    {"g0e_write_scrambled_09", 0x0E, 0x09, {4, 2}, {8, 2}, 12, 498, k16, k16, 0, 0, Scramble::payload_head,
     Blank::none, false,
     [](const Call& c) { return g0e_write_scrambled_09(uint16_t(c.address), c.source, uint16_t(c.count)); }},
    {"g0e_write_scrambled_0a", 0x0E, 0x0A, {4, 2}, {8, 2}, 12, 498, k16, k16, 0, 0, Scramble::payload_head,
     Blank::none, false,
     [](const Call& c) { return g0e_write_scrambled_0a(uint16_t(c.address), c.source, uint16_t(c.count)); }},
    {"g0e_write_skip_blank", 0x0E, 0x80, {4, 2}, {8, 2}, 12, 480, k16, k16, 0, 0, Scramble::none, Blank::area_ff,
     false, [](const Call& c) { return g0e_write_skip_blank(uint16_t(c.address), c.source, uint16_t(c.count)); }},
    {"g13_write_05", 0x13, 0x05, {3, 4}, {7, 2}, 9, 500, k32, k32, 0, 1, Scramble::none, Blank::none, false,
     [](const Call& c) { return g13_write_05(c.address, c.source, c.count); }},
    {"g13_write_scrambled", 0x13, 0x07, {3, 4}, {7, 2}, 9, 500, k32, k32, 1, 1, Scramble::cipher, Blank::none, false,
     [](const Call& c) { return g13_write_scrambled(c.address, c.source, c.count); }},
    {"g13_write_skip_blank", 0x13, 0x08, {3, 4}, {7, 2}, 9, 480, k32, k32, 1, 1, Scramble::cipher, Blank::chunk_ff,
     false, [](const Call& c) { return g13_write_skip_blank(c.address, c.source, c.count); }},
    {"g0f_write_05", 0x0F, 0x05, {4, 4}, {8, 4}, 12, 480, k32, k32, 0, 0, Scramble::none, Blank::none, false,
     [](const Call& c) { return g0f_write_05(c.address, c.source, c.count); }},
    {"g0f_write_06", 0x0F, 0x06, {4, 3}, {8, 4}, 12, 480, k32, k32, 0, 0, Scramble::none, Blank::none, false,
     [](const Call& c) { return g0f_write_06(c.address, c.source, c.count); }},
    {"g0f_write_0a", 0x0F, 0x0A, {4, 4}, {8, 4}, 12, 498, k32, k32, 0, 0, Scramble::none, Blank::none, false,
     [](const Call& c) { return g0f_write_0a(c.address, c.source, c.count); }},
    {"g11_write", 0x11, 0x02, {3, 3}, {0, 0}, 6, 1, k32, k32, 0, 0, Scramble::none, Blank::none, false,
     [](const Call& c) { return g11_write(c.address, c.source, c.count); }},
    {"g14_write_05", 0x14, 0x05, {6, 2}, {8, 2}, 12, 384, k32, k32, 0, 0, Scramble::none, Blank::none, true,
     [](const Call& c) { return g14_write_05(c.selector, c.bank, c.address, c.source, c.count); }},
    {"g14_write_08", 0x14, 0x08, {4, 4}, {8, 4}, 12, 498, k32, k32, 0, 0, Scramble::none, Blank::none, false,
     [](const Call& c) { return g14_write_08(c.address, c.source, c.count); }},
    {"dev_write_block", 0xF0, 0xE4, {3, 4}, {7, 2}, 12, 256, k32, k32, 0, 0, Scramble::none, Blank::none, false,
     [](const Call& c) { return dev_write_block(c.address, c.source, c.count); }},
};

constexpr uint32_t kMaxSectorsPerRun = 2048;
constexpr uint64_t kBatchLimit = std::numeric_limits<int>::max();  // bytes a batch may have

void put(uint8_t* sector, Field field, uint32_t value) {
  for (uint8_t i = 0; i < field.width; ++i) {
    sector[field.offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

bool all_ff(const uint8_t* bytes, size_t n) {
  return std::all_of(bytes, bytes + n, [](uint8_t b) { return b == 0xFF; });
}

void scramble(Scramble how, uint8_t* head) {
  switch (how) {
    case Scramble::none:
      return;
    case Scramble::payload_head:
      if (xor_mode == 1) {
        for (uint32_t k = 0; k < 8; ++k) head[k] ^= xor_key[k];
        return;
      }
      cipher_encrypt_bytes(&payload_cipher, head, 8);
      return;
    case Scramble::cipher:
      cipher_encrypt_bytes(&payload_cipher, head, 8);
      return;
  }
}

// The sectors the write should send, framed, in order.
std::vector<Sector> expected_sectors(const BulkWrite& w, const Call& c) {
  std::vector<Sector> sectors;
  Sector slot{};
  bool reuse = false;  // the last chunk was blank: its slot is taken again, uncleared
  uint32_t address = c.address >> w.first_shift;
  for (uint64_t offset = 0; offset < c.count; offset += w.chunk) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(w.chunk, c.count - offset));
    if (!reuse) slot.fill(0);
    slot[1] = w.group;
    slot[2] = w.command;
    if (w.takes_selector_and_bank) {
      slot[3] = c.selector;
      slot[4] = c.bank;
    }
    put(slot.data(), w.address, address);
    put(slot.data(), w.length, n);
    std::copy_n(c.source + offset, n, slot.begin() + w.payload);
    const bool blank = (w.blank == Blank::area_ff && all_ff(slot.data() + w.payload, 480)) ||
                       (w.blank == Blank::chunk_ff && all_ff(c.source + offset, n));
    scramble(w.scramble, slot.data() + w.payload);
    address += n >> w.advance_shift;
    reuse = blank;
    if (!blank) {
      sectors.push_back(slot);
      frame_sectors(sectors.back().data(), kSectorSize);
    }
  }
  return sectors;
}

const std::string kRoot = "E:\\";

void check_sent(const char* name, const std::vector<Sector>& expected, int result) {
  const std::vector<const FileCall*> writes = memory_drive_writes();
  FUZZ_CHECK(writes.size() == 1, "%s: %zu writes of the command file, expected one", name, writes.size());
  const FileCall& w = *writes[0];
  FUZZ_CHECK(w.path == kRoot + kCommandFile, "%s: wrote %s", name, w.path.c_str());
  FUZZ_CHECK(w.bytes.size() == expected.size() * kSectorSize, "%s: %zu bytes sent, expected %zu sectors", name,
             w.bytes.size(), expected.size());
  FUZZ_CHECK(result == (memory_drive().writes_fail ? 0 : static_cast<int>(w.bytes.size())), "%s: result %d", name,
             result);
  for (size_t k = 0; k < expected.size(); ++k) {
    const uint8_t* sent = w.bytes.data() + k * kSectorSize;
    FUZZ_CHECK(sent[0] == kSectorMarker, "%s: sector %zu without the marker", name, k);
    const uint16_t crc = static_cast<uint16_t>(sent[kSectorCrcOffset] << 8 | sent[kSectorCrcOffset + 1]);
    FUZZ_CHECK(crc16_xmodem(sent, kSectorSize) == crc, "%s: sector %zu with a bad CRC", name, k);
    for (size_t i = 0; i < kSectorSize; ++i) {
      FUZZ_CHECK(sent[i] == expected[k][i], "%s: sector %zu byte %zu is 0x%02X, expected 0x%02X", name, k, i, sent[i],
                 expected[k][i]);
    }
  }
}

// Counts: mostly small, sometimes up to the run's limit, sometimes just past the batch limit.
uint32_t consume_count(FuzzedDataProvider& in, const BulkWrite& w, bool& over_limit) {
  const uint64_t first_over = kBatchLimit / kSectorSize * w.chunk + 1;  // the first count that passes 2 GiB
  over_limit = false;
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
    case 1:
      return in.ConsumeIntegralInRange<uint32_t>(0, std::min<uint32_t>(3 * w.chunk + 1, w.max_count));
    case 2:
    case 3:
      return in.ConsumeIntegralInRange<uint32_t>(0, std::min<uint32_t>(64 * w.chunk, w.max_count));
    case 4:
      return in.ConsumeIntegralInRange<uint32_t>(0, std::min<uint32_t>(kMaxSectorsPerRun * w.chunk, w.max_count));
    default:
      if (first_over > w.max_count) {
        return w.max_count;  // a 16-bit count never gets near the limit
      }
      over_limit = true;
      return static_cast<uint32_t>(in.ConsumeIntegralInRange<uint64_t>(first_over, std::min<uint64_t>(first_over + 1000, k32)));
  }
}

void run_bulk_write(FuzzedDataProvider& in) {
  const BulkWrite& w = kBulkWrites[in.ConsumeIntegralInRange<size_t>(0, std::size(kBulkWrites) - 1)];
  bool over_limit = false;
  Call call{};
  call.address = in.ConsumeIntegral<uint32_t>() & w.address_mask;
  call.count = consume_count(in, w, over_limit);
  call.selector = in.ConsumeIntegral<uint8_t>();
  call.bank = in.ConsumeIntegral<uint8_t>();
  // The data: the input's bytes, runs of 0xFF (blank chunks) or zeros, repeated to the count.
  std::vector<uint8_t> pattern = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 600));
  const uint8_t fill = in.ConsumeBool() ? 0xFF : 0x00;
  const size_t data_size = over_limit ? 16 : call.count;  // past the limit nothing may be read
  const auto source = std::make_unique<uint8_t[]>(std::max<size_t>(data_size, 1));
  const uint32_t blank_every = in.ConsumeIntegralInRange<uint32_t>(0, 4);
  for (size_t i = 0; i < data_size; ++i) {
    const size_t chunk_index = i / w.chunk;
    const bool blank = blank_every != 0 && chunk_index % blank_every == 0;
    source[i] = blank || pattern.empty() ? fill : pattern[i % pattern.size()];
  }
  call.source = source.get();
  memory_drive().writes_fail = in.ConsumeIntegral<uint8_t>() == 0x77;

  const int result = w.run(call);
  if (over_limit) {
    FUZZ_CHECK(result == 0, "%s of %u bytes over the batch limit gave %d", w.name, call.count, result);
    FUZZ_CHECK(memory_drive_writes().empty(), "%s of %u bytes over the batch limit sent something", w.name, call.count);
    return;
  }
  check_sent(w.name, expected_sectors(w, call), result);
}

// g14_write_block: one sector, the data cut at 256 bytes; the source holds exactly `length` bytes.
void run_write_block(FuzzedDataProvider& in) {
  const uint8_t selector = in.ConsumeIntegral<uint8_t>();
  const uint8_t bank = in.ConsumeIntegral<uint8_t>();
  const uint16_t address = in.ConsumeIntegral<uint16_t>();
  const uint16_t length = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint16_t>(0, 300) : in.ConsumeIntegral<uint16_t>();
  std::vector<uint8_t> data = in.ConsumeBytes<uint8_t>(length);
  data.resize(length, 0xA5);
  const auto source = std::make_unique<uint8_t[]>(std::max<size_t>(length, 1));
  std::copy(data.begin(), data.end(), source.get());
  const int result = g14_write_block(selector, bank, address, source.get(), length);
  Sector s{};
  const uint16_t n = std::min<uint16_t>(length, 256);
  s[1] = 0x14;
  s[2] = 0x06;
  s[3] = selector;
  s[4] = bank;
  put(s.data(), {6, 2}, address);
  put(s.data(), {8, 2}, n);
  std::copy_n(data.begin(), n, s.begin() + 12);
  frame_sectors(s.data(), kSectorSize);
  check_sent("g14_write_block", {s}, result);
}

// g14_write_list: one sector of at most 124 entries; the arrays hold exactly `count` entries.
void run_write_list(FuzzedDataProvider& in) {
  const uint8_t count = in.ConsumeIntegral<uint8_t>();
  const auto addresses = std::make_unique<uint32_t[]>(std::max<size_t>(count, 1));
  const auto values = std::make_unique<uint8_t[]>(std::max<size_t>(count, 1));
  for (size_t i = 0; i < count; ++i) {
    addresses[i] = in.ConsumeIntegral<uint32_t>();
    values[i] = in.ConsumeIntegral<uint8_t>();
  }
  const int result = g14_write_list(addresses.get(), values.get(), count);
  Sector s{};
  const uint32_t n = std::min<uint32_t>(count, 124);
  s[1] = 0x14;
  s[2] = 0x04;
  put(s.data(), {8, 2}, n);
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t* entry = s.data() + 12 + 4 * i;
    entry[0] = values[i];
    entry[1] = static_cast<uint8_t>(addresses[i] >> 16);
    entry[2] = static_cast<uint8_t>(addresses[i]);
    entry[3] = static_cast<uint8_t>(addresses[i] >> 8);
  }
  frame_sectors(s.data(), kSectorSize);
  check_sent("g14_write_list", {s}, result);
}

// g0e_read_with_list: every request of the range carries the list of at most 124 entries; the
// arrays hold exactly `count` entries. The reply file is missing, so each request's bytes arrive
// as zeros or not at all.
void run_read_with_list(FuzzedDataProvider& in) {
  const uint16_t address = in.ConsumeIntegral<uint16_t>();
  const uint16_t length = in.ConsumeIntegral<uint16_t>();
  const uint8_t count = in.ConsumeIntegral<uint8_t>();
  const auto addresses = std::make_unique<uint16_t[]>(std::max<size_t>(count, 1));
  const auto values = std::make_unique<uint8_t[]>(std::max<size_t>(count, 1));
  for (size_t i = 0; i < count; ++i) {
    addresses[i] = in.ConsumeIntegral<uint16_t>();
    values[i] = in.ConsumeIntegral<uint8_t>();
  }
  const auto destination = std::make_unique<uint8_t[]>(std::max<size_t>(length, 1));
  const uint32_t got = g0e_read_with_list(address, destination.get(), length, addresses.get(), values.get(), count);
  FUZZ_CHECK(got == 0, "g0e_read_with_list: %u bytes delivered by a missing reply file", got);
  const std::vector<const FileCall*> writes = memory_drive_writes();
  const size_t requests = (length + 8191u) / 8192u;
  FUZZ_CHECK(writes.size() == requests, "g0e_read_with_list: %zu requests for %u bytes", writes.size(), length);
  const uint32_t n = std::min<uint32_t>(count, 124);
  uint16_t at = address;
  for (size_t r = 0; r < requests; ++r) {
    const uint16_t chunk = static_cast<uint16_t>(std::min<uint32_t>(8192, length - r * 8192u));
    Sector s{};
    s[1] = 0x0E;
    s[2] = 0x13;
    s[3] = static_cast<uint8_t>(n);
    put(s.data(), {4, 2}, at);
    put(s.data(), {8, 2}, chunk);
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t* entry = s.data() + 12 + 4 * i;
      put(entry, {0, 2}, addresses[i]);
      entry[2] = values[i];
    }
    frame_sectors(s.data(), kSectorSize);
    FUZZ_CHECK(writes[r]->bytes.size() == kSectorSize && std::equal(s.begin(), s.end(), writes[r]->bytes.begin()),
               "g0e_read_with_list: request %zu is not the list and its range", r);
    at = static_cast<uint16_t>(at + chunk);
  }
}

}  // namespace
}  // namespace cartdump::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cartdump;
  using namespace cartdump::fuzz;
  using namespace cartdump::test;
  FuzzedDataProvider in(data, size);
  memory_drive_reset();
  device_state = DeviceState{};
  set_drive_root(kRoot);
  // The scrambling state: XOR mode with any key, or the cipher keyed with any DeviceId (or never).
  xor_mode = in.ConsumeBool() ? 1 : 0;
  const std::vector<uint8_t> key = in.ConsumeBytes<uint8_t>(8);
  xor_key.fill(0);
  std::copy(key.begin(), key.end(), xor_key.begin());
  payload_cipher = PayloadCipher{};
  if (in.ConsumeBool()) {
    const std::vector<uint8_t> id = in.ConsumeBytes<uint8_t>(8);
    std::array<uint8_t, 8> id8{};
    std::copy(id.begin(), id.end(), id8.begin());
    cipher_set_key8(id8.data());
  }
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: run_write_block(in); break;
    case 1: run_write_list(in); break;
    case 2: run_read_with_list(in); break;
    default: run_bulk_write(in); break;
  }
  return 0;
}

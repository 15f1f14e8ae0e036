// The skip-blank writes of both groups on a large, mostly blank image: it reads back equal through
// the device model, and only its non-blank chunks travel.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "carts/group_0e.h"
#include "carts/group_13.h"
#include "carts/scrambling.h"
#include "tests/support/group_test.h"

namespace cartdump::test {
namespace {

constexpr uint32_t kChunk = 480;

// About 90% 0xFF: each 480-byte chunk is blank, except one in ten, which holds random bytes or,
// now and then, a single byte that is not 0xFF.
std::vector<uint8_t> mostly_blank_image(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> image(size, 0xFF);
  for (size_t offset = 0; offset < size; offset += kChunk) {
    const size_t n = std::min<size_t>(kChunk, size - offset);
    const uint32_t pick = random() % 40;
    if (pick == 0) {
      image[offset + random() % n] = 0x7F;
    } else if (pick < 4) {
      for (size_t i = 0; i < n; ++i) image[offset + i] = static_cast<uint8_t>(random());
    }
  }
  return image;
}

struct Sent {
  uint32_t address;
  uint32_t length;
  bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& s) {
  return out << "(0x" << std::hex << s.address << ", " << std::dec << s.length << ")";
}

struct Case {
  const char* name;
  uint32_t size;
  uint32_t address;  // as the write takes it
  uint8_t command;
  std::function<int(uint32_t, const uint8_t*, uint32_t)> write;
  std::function<uint32_t(uint32_t, uint8_t*, uint32_t)> read;
  // The address the device sees for the chunk at offset.
  std::function<uint32_t(uint32_t address, uint32_t offset)> sector_address;
  // Group 0x0E tests the sector's whole payload area, so a short last chunk of 0xFF is blank only
  // when it reuses a blank chunk's slot; group 0x13 tests the caller's bytes.
  bool area_test;
};

class SkipBlank : public GroupTest {};

TEST_F(SkipBlank, AMostlyBlankImageTravelsAsItsNonBlankChunks) {
  const Case cases[] = {
      {"g0e_write_skip_blank: the whole 16-bit space but one byte", 0xFFFF, 0x0000, 0x80,
       [](uint32_t a, const uint8_t* s, uint32_t n) {
         return g0e_write_skip_blank(static_cast<uint16_t>(a), s, static_cast<uint16_t>(n));
       },
       [](uint32_t a, uint8_t* d, uint32_t n) {
         return g0e_read_04(static_cast<uint16_t>(a), d, static_cast<uint16_t>(n));
       },
       [](uint32_t a, uint32_t offset) { return (a + offset) & 0xFFFF; }, true},
      {"g13_write_skip_blank: 1 MiB", 1 << 20, 0x01000000, 0x08, g13_write_skip_blank, g13_read,
       [](uint32_t a, uint32_t offset) { return a / 2 + offset / 2; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    reset_scrambling_state();
    cipher_key_from_device_id();
    const std::vector<uint8_t> image = mostly_blank_image(c.size, 21);

    std::vector<Sent> expected;
    bool previous_blank = false;
    size_t ff_bytes = 0;
    for (uint32_t offset = 0; offset < c.size; offset += kChunk) {
      const uint32_t n = std::min(kChunk, c.size - offset);
      bool blank = is_all_ff(image.data() + offset, n);
      if (c.area_test) blank = blank && (n == kChunk || previous_blank);
      if (!blank) expected.push_back({c.sector_address(c.address, offset), n});
      previous_blank = blank;
      ff_bytes += std::count(image.begin() + offset, image.begin() + offset + n, 0xFF);
    }
    ASSERT_GT(ff_bytes * 10, image.size() * 8) << "mostly blank";
    ASSERT_LT(ff_bytes * 100, image.size() * 95);

    clear_record();
    EXPECT_EQ(c.write(c.address, image.data(), c.size), static_cast<int>(expected.size() * 512));
    ASSERT_EQ(calls().size(), 1u);
    std::vector<Sent> sent;
    for (const sim::SectorRecord& r : commands()) {
      EXPECT_EQ(r.command, c.command);
      EXPECT_EQ(r.outcome, sim::Outcome::accepted);
      sent.push_back({r.address, r.length});
    }
    EXPECT_EQ(sent, expected);

    std::vector<uint8_t> back(c.size, 0);
    EXPECT_EQ(c.read(c.address, back.data(), c.size), c.size);
    EXPECT_TRUE(back == image) << "the image reads back equal";
  }
}

}  // namespace
}  // namespace cartdump::test

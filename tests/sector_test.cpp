#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/sector.h"

namespace cartdump {
namespace {

std::vector<uint8_t> framed(std::vector<uint8_t> batch) {
  frame_sectors(batch.data(), static_cast<uint32_t>(batch.size()));
  return batch;
}

TEST(Crc16Xmodem, CheckValueOfTheNineDigits) {
  // The last two bytes of a block are the checksum's own place and are not covered.
  const uint8_t block[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xEE, 0xEE};
  EXPECT_EQ(crc16_xmodem(block, sizeof block), 0x31C3);
}

TEST(Crc16Xmodem, CoversBytes0To509Only) {
  CommandSector sector{};
  sector[1] = 0x10;
  const uint16_t base = crc16_xmodem(sector.data(), kSectorSize);
  for (uint32_t i = 0; i < kSectorSize; ++i) {
    CommandSector changed = sector;
    changed[i] ^= 0x01;
    const bool covered = i < kSectorCrcOffset;
    EXPECT_EQ(crc16_xmodem(changed.data(), kSectorSize) != base, covered) << "byte " << i;
  }
}

// The two framed sectors the system's documentation gives as examples.
TEST(FrameSectors, WorkedExamples) {
  std::vector<uint8_t> init(kSectorSize, 0);
  init[1] = 0x10;
  init[2] = 0x01;
  std::vector<uint8_t> expected_init(kSectorSize, 0);
  expected_init[0] = 0x5A;
  expected_init[1] = 0x10;
  expected_init[2] = 0x01;
  expected_init[510] = 0xB3;
  expected_init[511] = 0x7F;
  EXPECT_EQ(framed(init), expected_init);

  std::vector<uint8_t> read(kSectorSize, 0);
  const uint8_t fields[] = {0x00, 0x10, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04};
  std::memcpy(read.data(), fields, sizeof fields);
  std::vector<uint8_t> expected_read = read;
  expected_read[0] = 0x5A;
  expected_read[510] = 0x5E;
  expected_read[511] = 0x7B;
  EXPECT_EQ(framed(read), expected_read);
}

TEST(FrameSectors, OverwritesTheMarkerAndIsIdempotent) {
  std::vector<uint8_t> batch(kSectorSize, 0);
  batch[0] = 0x77;
  batch[1] = 0x10;
  const std::vector<uint8_t> once = framed(batch);
  EXPECT_EQ(once[0], kSectorMarker);
  EXPECT_EQ(framed(once), once);
}

TEST(FrameSectors, EachSectorOfABatchCarriesItsOwnCrc) {
  std::vector<uint8_t> batch(3 * kSectorSize, 0);
  for (int k = 0; k < 3; ++k) {
    batch[k * kSectorSize + 1] = 0x10;
    batch[k * kSectorSize + 3] = static_cast<uint8_t>(k);
  }
  const std::vector<uint8_t> out = framed(batch);
  for (int k = 0; k < 3; ++k) {
    std::vector<uint8_t> alone(out.begin() + k * kSectorSize, out.begin() + (k + 1) * kSectorSize);
    EXPECT_EQ(framed(alone), alone) << "sector " << k;
  }
  // The sectors differ only in byte 3, so their CRCs differ: no sector's CRC covers another.
  EXPECT_NE(std::memcmp(&out[510], &out[kSectorSize + 510], 2), 0);
}

TEST(FrameSectors, LengthZeroTouchesNothing) {
  std::vector<uint8_t> batch(kSectorSize, 0x33);
  frame_sectors(batch.data(), 0);
  EXPECT_EQ(batch, std::vector<uint8_t>(kSectorSize, 0x33));
}

}  // namespace
}  // namespace cartdump

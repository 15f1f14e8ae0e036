// The device model itself: what the stand-in for the device does with the bytes it is given.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/sector.h"
#include "sim/device.h"

namespace cartdump::sim {
namespace {

std::vector<uint8_t> framed_sector(uint8_t group, uint8_t command, uint32_t address, uint16_t length) {
  std::vector<uint8_t> s(kSectorSize, 0);
  s[1] = group;
  s[2] = command;
  for (int i = 0; i < 4; ++i) s[3 + i] = static_cast<uint8_t>(address >> (8 * i));
  s[7] = static_cast<uint8_t>(length);
  s[8] = static_cast<uint8_t>(length >> 8);
  frame_sectors(s.data(), kSectorSize);
  return s;
}

void send(Device& device, const std::vector<uint8_t>& file) {
  device.truncate_command_file();
  device.write_command_file(0, file.data(), file.size());
}

DeviceConfig with_rom(size_t size) {
  DeviceConfig config;
  config.rom.resize(size);
  for (size_t i = 0; i < size; ++i) config.rom[i] = static_cast<uint8_t>(i + 1);
  return config;
}

TEST(DeviceModel, RejectsDamagedSectorsAndChangesNothing) {
  Device device(with_rom(64));
  send(device, framed_sector(0x10, 0x03, kN64RomBase, 16));
  const std::vector<uint8_t> reply = device.reply_file;

  struct Damage {
    const char* what;
    size_t byte;
    Outcome outcome;
  };
  const Damage cases[] = {
      {"payload byte", 100, Outcome::bad_crc},
      {"crc byte", 511, Outcome::bad_crc},
      {"marker", 0, Outcome::bad_marker},
  };
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> s = framed_sector(0x10, 0x03, kN64RomBase + 32, 16);
    s[d.byte] ^= 0x40;
    send(device, s);
    EXPECT_EQ(device.log.back().outcome, d.outcome);
    EXPECT_EQ(device.reply_file, reply);
  }
  EXPECT_EQ(device.accepted, 1u);
  EXPECT_EQ(device.rejected, 3u);
}

TEST(DeviceModel, UnknownCommandsAreRecordedAsRejected) {
  Device device;
  send(device, framed_sector(0x10, 0x7E, 0, 0));
  send(device, framed_sector(0x55, 0x01, 0, 0));
  ASSERT_EQ(device.log.size(), 2u);
  EXPECT_EQ(device.log[0].outcome, Outcome::unknown_command);
  EXPECT_EQ(device.log[1].outcome, Outcome::unknown_command);
  EXPECT_EQ(device.rejected, 2u);
}

TEST(DeviceModel, AWriteDeliveredInPiecesRunsEverySectorOnce) {
  Device device(with_rom(0x10000));
  std::vector<uint8_t> file;
  for (uint32_t k = 0; k < 5; ++k) {
    const std::vector<uint8_t> s = framed_sector(0x10, 0x03, kN64RomBase + k, 2);
    file.insert(file.end(), s.begin(), s.end());
  }
  device.truncate_command_file();
  // Pieces that end inside a sector, as a host's write may arrive.
  const size_t cuts[] = {0, 300, 1024, 1500, 2560};
  for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
    device.write_command_file(cuts[i], file.data() + cuts[i], cuts[i + 1] - cuts[i]);
  }
  ASSERT_EQ(device.log.size(), 5u);
  for (uint32_t k = 0; k < 5; ++k) {
    EXPECT_EQ(device.log[k].address, kN64RomBase + k);
    EXPECT_EQ(device.log[k].outcome, Outcome::accepted);
  }
  EXPECT_EQ(device.command_file, file);
}

TEST(DeviceModel, N64ReadsPastTheCartridgeSeeTheFloatingBus) {
  Device device(with_rom(4));
  send(device, framed_sector(0x10, 0x03, kN64RomBase, 8));
  const uint8_t expected[] = {1, 2, 3, 4, 0x00, 0x04, 0x00, 0x06};
  EXPECT_EQ(std::memcmp(device.reply_file.data(), expected, 8), 0);
}

// What the slot answers past the image: the words of the floating bus (fill and openbus alike:
// each big-endian halfword at address A reads A & 0xFFFF), or, for mirror, the image again within
// the 64 MiB ROM window.
TEST(DeviceModel, PastTheImageEachBeyondAnswersAsDocumented) {
  const std::vector<uint8_t> rom = with_rom(0x3000).rom;
  const auto bus_word = [](const N64Slot& slot, uint32_t a) { return slot.read(a) << 8 | slot.read(a + 1); };
  for (const Beyond beyond : {Beyond::fill, Beyond::openbus, Beyond::mirror}) {
    SCOPED_TRACE(static_cast<int>(beyond));
    const N64Slot slot{.rom = rom, .beyond = beyond};
    for (const uint32_t a : {kN64RomBase, kN64RomBase + 0x2FFE}) {
      EXPECT_EQ(slot.read(a), rom[a - kN64RomBase]) << "the image itself";
    }
    for (const uint32_t offset : {0x3000u, 0x3002u, 0x12346u, kN64RomWindow - 2}) {
      const uint32_t a = kN64RomBase + offset;
      if (beyond == Beyond::mirror) {
        EXPECT_EQ(slot.read(a), rom[offset % rom.size()]);
        EXPECT_EQ(slot.read(a + 1), rom[(offset + 1) % rom.size()]);
      } else {
        EXPECT_EQ(bus_word(slot, a), static_cast<int>(a & 0xFFFF)) << std::hex << a;
      }
    }
    // Outside the ROM window every mode floats.
    for (const uint32_t a : {kN64RomBase - 0x10, kN64RomBase + kN64RomWindow + 0x1234}) {
      EXPECT_EQ(bus_word(slot, a), static_cast<int>(a & 0xFFFF)) << std::hex << a;
    }
  }
}

// The faults of the slot's read replies.
TEST(DeviceModel, ReadFaultsFlipZeroAndDelayReplies) {
  DeviceConfig config = with_rom(0x10000);
  const std::vector<uint8_t> rom = config.rom;
  const auto reply_of = [](DeviceConfig c, const std::vector<uint32_t>& offsets) {
    Device device(c);
    std::vector<std::vector<uint8_t>> replies;
    for (const uint32_t offset : offsets) {
      send(device, framed_sector(0x10, 0x03, kN64RomBase + offset, 0x2000));
      replies.emplace_back(device.reply_file.begin(), device.reply_file.begin() + 0x2000);
    }
    return replies;
  };
  const auto bits_differing = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += __builtin_popcount(a[i] ^ b[i]);
    return n;
  };
  const auto chunk = [&](uint32_t offset) {
    return std::vector<uint8_t>(rom.begin() + offset, rom.begin() + offset + 0x2000);
  };

  DeviceConfig every = config;
  every.n64_faults.corrupt_every = 3;
  std::vector<std::vector<uint8_t>> replies = reply_of(every, {0, 0x2000, 0x4000, 0x6000, 0x8000, 0xA000});
  for (uint32_t k = 0; k < 6; ++k) {
    EXPECT_EQ(bits_differing(replies[k], chunk(k * 0x2000)), k % 3 == 2 ? 1 : 0) << "read " << k + 1;
  }

  DeviceConfig at = config;
  at.n64_faults.corrupt_at = kN64RomBase + 0x4123;
  replies = reply_of(at, {0x4000, 0x4000, 0x4000, 0x2000, 0x4000});
  for (uint32_t k = 0; k < 5; ++k) {
    EXPECT_EQ(bits_differing(replies[k], chunk(k == 3 ? 0x2000 : 0x4000)), k == 3 ? 0 : 1) << "read " << k + 1;
  }
  EXPECT_NE(replies[0], replies[1]);
  EXPECT_NE(replies[1], replies[2]);

  DeviceConfig zero = config;
  zero.n64_faults.zero_after = 2;
  replies = reply_of(zero, {0, 0x2000, 0x4000});
  EXPECT_EQ(replies[1], chunk(0x2000));
  EXPECT_EQ(replies[2], std::vector<uint8_t>(0x2000, 0)) << "the third command is answered with zeros";

  DeviceConfig lag = config;
  lag.n64_faults.lag = true;
  replies = reply_of(lag, {0, 0x2000, 0x4000});
  EXPECT_EQ(replies[0], chunk(0)) << "the first read is answered in time";
  EXPECT_EQ(replies[1], chunk(0));
  EXPECT_EQ(replies[2], chunk(0x2000));
}

TEST(DeviceModel, IdentityBlockLayout) {
  DeviceConfig config;
  config.name = "READER";
  config.boot = true;
  config.second_block = true;
  config.second_name = "BOOT LOADER 2";
  config.device_id = {1, 2, 3, 4, 5, 6, 7, 8};
  Device device(config);
  const uint8_t* block = device.reply_file.data() + kIdentityOffset;
  EXPECT_EQ(device.reply_file.size(), 9216u);
  EXPECT_STREQ(reinterpret_cast<const char*>(block), "BOOTREADER");
  EXPECT_STREQ(reinterpret_cast<const char*>(block + 256), "BOOT LOADER 2");
  EXPECT_EQ(std::memcmp(block + 512, config.device_id.data(), 8), 0);
}

TEST(DeviceModel, IdentityRequestRepliesWithTheId) {
  DeviceConfig config;
  config.device_id = {9, 8, 7, 6, 5, 4, 3, 2};
  Device device(config);
  EXPECT_STREQ(reinterpret_cast<const char*>(device.reply_file.data() + kIdentityOffset), config.name.c_str());
  EXPECT_EQ(device.reply_file[kIdentityOffset + 256], 0) << "no second block";
  send(device, framed_sector(0xF0, 0x04, 0, 0));
  EXPECT_EQ(std::memcmp(device.reply_file.data(), config.device_id.data(), 8), 0);
}

// The model reads a sector's fields as the library writes them: get_field undoes put_field, keeping
// only the bits the field carries, and reads its bytes little-endian.
TEST(DeviceModel, ReadsFieldsAsTheLibraryWritesThem) {
  struct Case {
    SectorField field;
    uint32_t written;
    uint32_t read;
  };
  const Case cases[] = {
      {{3, 4}, 0xA1B2C3D4, 0xA1B2C3D4},
      {{3, 3}, 0xA1B2C3D4, 0x00B2C3D4},     // a 24-bit address drops bits 24-31
      {{4, 1, 16}, 0x00AB1234, 0x00AB0000},  // a bank: address bits 16-23
      {{6, 2}, 0x00AB1234, 0x00001234},
      {{0, 0}, 0xFFFFFFFF, 0},               // no field
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field.offset);
    std::vector<uint8_t> sector(kSectorSize, 0);
    put_field(sector.data(), c.field, c.written);
    EXPECT_EQ(get_field(sector.data(), c.field), c.read);
  }
  const uint8_t bytes[] = {0x00, 0x34, 0x12, 0xFF};
  EXPECT_EQ(get_field(bytes, {1, 2}), 0x1234u);
  EXPECT_EQ(get_field(bytes, {1, 1, 8}), 0x3400u);
}

}  // namespace
}  // namespace cartdump::sim

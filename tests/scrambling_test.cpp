// Scrambling selection, the scrambling step and the blank-chunk tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "carts/cipher.h"
#include "carts/group_0e.h"
#include "carts/scrambling.h"
#include "link/device_state.h"
#include "tests/support/device_test.h"
#include "tests/support/scrambling_state.h"

namespace cartdump::test {
namespace {

constexpr std::array<uint8_t, 8> kDeviceId{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
constexpr std::array<uint8_t, 8> kXorKey{0xA5, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40};
constexpr std::array<uint8_t, 8> kHead{'P', 'A', 'Y', 'L', 'O', 'A', 'D', '!'};

// The device's identity block carries the XOR key at 512-519; DeviceState holds the DeviceId that
// discovery recorded.
class Scrambling : public DeviceTest {
 protected:
  void configure(sim::DeviceConfig& c) override {
    c.device_id = kDeviceId;
    c.xor_key = kXorKey;
  }
  void SetUp() override {
    DeviceTest::SetUp();
    reset_scrambling_state();
    device_state.device_id = kDeviceId;
  }
  void TearDown() override {
    reset_scrambling_state();
    DeviceTest::TearDown();
  }
  void name_device(const std::string& name) {
    config.name = name;
    restart();
  }
  static std::array<uint8_t, 8> blowfish(const std::array<uint8_t, 8>& key, std::array<uint8_t, 8> data) {
    PayloadCipher context{};
    cipher_init(&context, key.data(), 8);
    cipher_encrypt_bytes(&context, data.data(), 8);
    return data;
  }
  static std::array<uint8_t, 8> xored(std::array<uint8_t, 8> data, const std::array<uint8_t, 8>& key) {
    for (size_t k = 0; k < 8; ++k) data[k] ^= key[k];
    return data;
  }
};

TEST(Crc32, KnownValues) {
  const std::string digits = "123456789";
  EXPECT_EQ(crc32_ieee(reinterpret_cast<const uint8_t*>(digits.data()), 9), 0xCBF43926u);
  const std::vector<uint8_t> blank(480, 0xFF);
  EXPECT_EQ(crc32_ieee(blank.data(), 480), kBlankAreaCrc);
  EXPECT_EQ(crc32_ieee(nullptr, 0), 0u);
  // Continuing a CRC over a second part gives the CRC of the whole.
  const uint32_t head = crc32_ieee(reinterpret_cast<const uint8_t*>(digits.data()), 4);
  EXPECT_EQ(crc32_update(head, reinterpret_cast<const uint8_t*>(digits.data()) + 4, 5), 0xCBF43926u);
}

TEST(IsAllFf, EveryByteCounts) {
  EXPECT_TRUE(is_all_ff(nullptr, 0));
  std::vector<uint8_t> data(100, 0xFF);
  EXPECT_TRUE(is_all_ff(data.data(), 100));
  for (size_t at : {size_t{0}, size_t{50}, size_t{99}}) {
    SCOPED_TRACE(at);
    data[at] = 0xFE;
    EXPECT_FALSE(is_all_ff(data.data(), 100));
    EXPECT_TRUE(at == 0 || is_all_ff(data.data(), static_cast<uint32_t>(at))) << "only the length bytes count";
    data[at] = 0xFF;
  }
}

TEST_F(Scrambling, GetDeviceIdNeedsRoomForEightBytes) {
  struct Case {
    uint32_t capacity;
    int result;
  };
  for (const Case c : {Case{7, 0}, Case{8, 8}, Case{16, 8}}) {
    SCOPED_TRACE(c.capacity);
    std::array<uint8_t, 16> out;
    out.fill(0xEE);
    EXPECT_EQ(get_device_id(out.data(), c.capacity), c.result);
    const size_t copied = c.result == 8 ? 8 : 0;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + copied, kDeviceId.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + copied, out.end(), [](uint8_t b) { return b == 0xEE; }));
  }
}

TEST_F(Scrambling, SelectionReadsTheFirstThreeBytesOfTheIdentityBlock) {
  struct Case {
    std::string name;
    bool blowfish;
  };
  const Case cases[] = {
      {"NES", true}, {"NES cartridge reader", true}, {"NESx", true},
      {"NEZ reader", false}, {"nes reader", false}, {"NE", false}, {"", false}, {"CARTSIM", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_scrambling_state();
    name_device(c.name);
    clear_record();
    scrambling_select();
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].offset, 8192u);
    EXPECT_EQ(calls()[0].length, 1024u);
    EXPECT_TRUE(commands().empty()) << "the selection sends nothing";
    EXPECT_EQ(xor_mode, c.blowfish ? 0 : 1);
    EXPECT_EQ(xor_key, c.blowfish ? (std::array<uint8_t, 8>{}) : kXorKey);
    std::array<uint8_t, 8> head = kHead;
    scramble_payload_head(head.data());
    EXPECT_EQ(head, c.blowfish ? blowfish(kDeviceId, kHead) : xored(kHead, kXorKey));
  }
}

TEST_F(Scrambling, XorModeLeavesTheCipherAsItWas) {
  cipher_key_from_device_id();
  const PayloadCipher keyed = payload_cipher;
  scrambling_select();
  EXPECT_EQ(xor_mode, 1);
  EXPECT_EQ(payload_cipher.p, keyed.p);
  EXPECT_EQ(payload_cipher.s, keyed.s);
}

TEST_F(Scrambling, XorModeStaysOnWhateverFollows) {
  scrambling_select();
  ASSERT_EQ(xor_mode, 1);
  name_device("NES reader");
  scrambling_select();
  cipher_key_from_device_id();
  EXPECT_EQ(xor_mode, 1);
  std::array<uint8_t, 8> head = kHead;
  scramble_payload_head(head.data());
  EXPECT_EQ(head, xored(kHead, kXorKey));
  // The cipher was keyed all the same, and cipher_encrypt_buffer uses it.
  head = kHead;
  cipher_encrypt_buffer(head.data(), 8);
  EXPECT_EQ(head, blowfish(kDeviceId, kHead));
}

TEST_F(Scrambling, AnUnreadableIdentityTurnsOnXorWithAZeroKey) {
  memory_drive_unplug(true);
  xor_key = kXorKey;
  scrambling_select();
  EXPECT_EQ(xor_mode, 1);
  EXPECT_EQ(xor_key, (std::array<uint8_t, 8>{}));
  std::array<uint8_t, 8> head = kHead;
  scramble_payload_head(head.data());
  EXPECT_EQ(head, kHead);
}

TEST_F(Scrambling, InitSendsCommand01ThenSelects) {
  name_device("NES reader");
  clear_record();
  EXPECT_EQ(g0e_init_scrambling(), 512);
  ASSERT_EQ(commands().size(), 1u);
  EXPECT_EQ(commands()[0].group, 0x0E);
  EXPECT_EQ(commands()[0].command, 0x01);
  EXPECT_EQ(commands()[0].outcome, sim::Outcome::accepted);
  std::vector<uint8_t> expected(510, 0);
  expected[0] = 0x5A;
  expected[1] = 0x0E;
  expected[2] = 0x01;
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), device().command_file.begin()));
  ASSERT_EQ(calls().size(), 2u);
  EXPECT_TRUE(calls()[0].write);
  EXPECT_EQ(calls()[1].offset, 8192u);
  EXPECT_EQ(xor_mode, 0);
  std::array<uint8_t, 8> head = kHead;
  scramble_payload_head(head.data());
  EXPECT_EQ(head, blowfish(kDeviceId, kHead));
}

TEST_F(Scrambling, KeyFromDeviceIdReadsNothing) {
  cipher_key_from_device_id();
  EXPECT_TRUE(calls().empty());
  std::array<uint8_t, 8> head = kHead;
  scramble_payload_head(head.data());
  EXPECT_EQ(head, blowfish(kDeviceId, kHead));
}

TEST_F(Scrambling, BeforeAnySelectionTheZeroContextExchangesTheHalves) {
  std::array<uint8_t, 8> head = kHead;
  scramble_payload_head(head.data());
  EXPECT_EQ(head, (std::array<uint8_t, 8>{'O', 'A', 'D', '!', 'P', 'A', 'Y', 'L'}));
}

}  // namespace
}  // namespace cartdump::test

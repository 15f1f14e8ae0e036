// Blowfish on PayloadCipher: the initial table, the published test vectors in this system's byte
// order, and the buffer operations.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "carts/cipher.h"
#include "tests/support/scrambling_state.h"

namespace cartdump::test {
namespace {

class Cipher : public ::testing::Test {
 protected:
  void SetUp() override { reset_scrambling_state(); }
  void TearDown() override { reset_scrambling_state(); }
};

std::vector<uint8_t> bytes_of_hex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// A published block (each half most significant byte first) in this system's buffer order: each
// 4-byte half reversed.
std::array<uint8_t, 8> buffer_order(uint64_t block) {
  std::array<uint8_t, 8> out{};
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<uint8_t>(block >> (32 + 8 * i));
    out[4 + i] = static_cast<uint8_t>(block >> (8 * i));
  }
  return out;
}

struct Vector {
  const char* key;  // hexadecimal key bytes
  uint64_t plain;
  uint64_t cipher;
};

const Vector kVectors[] = {
    {"0000000000000000", 0x0000000000000000, 0x4EF997456198DD78},
    {"FFFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFFF, 0x51866FD5B85ECB8A},
    {"3000000000000000", 0x1000000000000001, 0x7D856F9A613063F2},
    {"1111111111111111", 0x1111111111111111, 0x2466DD878B963C9D},
    {"0123456789ABCDEF", 0x1111111111111111, 0x61F9C3802281B096},
    {"FEDCBA9876543210", 0x0123456789ABCDEF, 0x0ACEAB0FC6A0A28D},
    {"7CA110454A1A6E57", 0x01A1D6D039776742, 0x59C68245EB05282B},
    // Keys of other lengths: taken cyclically.
    {"F0", 0xFEDCBA9876543210, 0xF9AD597C49DB005E},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", 0xFEDCBA9876543210, 0x05044B62FA52D080},
    // "abcdefghijklmnopqrstuvwxyz" enciphering "BLOWFISH".
    {"6162636465666768696A6B6C6D6E6F707172737475767778797A", 0x424C4F5746495348, 0x324ED0FEF413A203},
};

TEST_F(Cipher, InitialTableIsTheFractionOfPi) {
  EXPECT_EQ(kCipherInitialTable[0], 0x243F6A88u);
  EXPECT_EQ(kCipherInitialTable[1], 0x85A308D3u);
  EXPECT_EQ(kCipherInitialTable[18], 0xD1310BA6u) << "S0 follows the 18-word P-array";
}

TEST_F(Cipher, PublishedVectorsHoldOnTheHalves) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.key);
    const std::vector<uint8_t> key = bytes_of_hex(v.key);
    PayloadCipher context{};
    cipher_init(&context, key.data(), static_cast<uint32_t>(key.size()));
    uint32_t left = static_cast<uint32_t>(v.plain >> 32);
    uint32_t right = static_cast<uint32_t>(v.plain);
    cipher_encrypt_block(&context, &left, &right);
    EXPECT_EQ(left, static_cast<uint32_t>(v.cipher >> 32));
    EXPECT_EQ(right, static_cast<uint32_t>(v.cipher));
    cipher_decrypt_block(&context, &left, &right);
    EXPECT_EQ(left, static_cast<uint32_t>(v.plain >> 32));
    EXPECT_EQ(right, static_cast<uint32_t>(v.plain));
  }
}

TEST_F(Cipher, PublishedVectorsHoldInBufferOrderOnThePayloadCipher) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.key);
    const std::vector<uint8_t> key = bytes_of_hex(v.key);
    cipher_set_key(key.data(), static_cast<uint32_t>(key.size()));
    std::array<uint8_t, 8> buffer = buffer_order(v.plain);
    cipher_encrypt_buffer(buffer.data(), 8);
    EXPECT_EQ(buffer, buffer_order(v.cipher));
    cipher_decrypt_buffer(buffer.data(), 8);
    EXPECT_EQ(buffer, buffer_order(v.plain));
  }
}

TEST_F(Cipher, SetKey8TakesExactlyEightBytes) {
  const std::vector<uint8_t> key = bytes_of_hex("FEDCBA987654321099");  // a ninth byte that must not count
  cipher_set_key8(key.data());
  std::array<uint8_t, 8> buffer = buffer_order(0x0123456789ABCDEF);
  cipher_encrypt_buffer(buffer.data(), 8);
  EXPECT_EQ(buffer, buffer_order(0x0ACEAB0FC6A0A28D));
}

TEST_F(Cipher, EncryptThenDecryptRestoresEveryBlock) {
  std::mt19937 random(7);
  const std::array<uint8_t, 8> key{0x43, 0x41, 0x52, 0x54, 0x53, 0x49, 0x4D, 0x01};
  cipher_set_key8(key.data());
  std::vector<uint8_t> data(64);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random());
  std::vector<uint8_t> buffer = data;
  cipher_encrypt_buffer(buffer.data(), static_cast<uint32_t>(buffer.size()));
  for (size_t k = 0; k < data.size(); k += 8) {
    EXPECT_FALSE(std::equal(data.begin() + k, data.begin() + k + 8, buffer.begin() + k)) << "block " << k / 8;
  }
  cipher_decrypt_buffer(buffer.data(), static_cast<uint32_t>(buffer.size()));
  EXPECT_EQ(buffer, data);
}

TEST_F(Cipher, TheAllZeroContextExchangesTheHalves) {
  std::array<uint8_t, 8> buffer{1, 2, 3, 4, 5, 6, 7, 8};
  cipher_encrypt_buffer(buffer.data(), 8);
  EXPECT_EQ(buffer, (std::array<uint8_t, 8>{5, 6, 7, 8, 1, 2, 3, 4}));
}

TEST_F(Cipher, OnlyWholeBlocksAreTouched) {
  const std::array<uint8_t, 8> key{1, 2, 3, 4, 5, 6, 7, 8};
  cipher_set_key8(key.data());
  std::array<uint8_t, 12> buffer{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  cipher_encrypt_buffer(buffer.data(), 11);
  EXPECT_EQ(buffer[8], 9);
  EXPECT_EQ(buffer[10], 11);
  EXPECT_NE(buffer[0], 1);
}

TEST_F(Cipher, AnEmptyKeyActsAsZeroBytes) {
  PayloadCipher empty{};
  cipher_init(&empty, nullptr, 0);
  const std::array<uint8_t, 8> zeros{};
  PayloadCipher zero{};
  cipher_init(&zero, zeros.data(), 8);
  EXPECT_EQ(empty.p, zero.p);
  EXPECT_EQ(empty.s, zero.s);
}

TEST_F(Cipher, KeyingReplacesTheWholeContext) {
  const std::array<uint8_t, 8> first{1, 1, 1, 1, 1, 1, 1, 1};
  const std::array<uint8_t, 8> second{2, 2, 2, 2, 2, 2, 2, 2};
  PayloadCipher fresh{};
  cipher_init(&fresh, second.data(), 8);
  cipher_set_key8(first.data());
  cipher_set_key8(second.data());
  EXPECT_EQ(payload_cipher.p, fresh.p);
  EXPECT_EQ(payload_cipher.s, fresh.s);
}

}  // namespace
}  // namespace cartdump::test

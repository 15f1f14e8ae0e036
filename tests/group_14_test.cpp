#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <vector>

#include "carts/group_14.h"
#include "tests/support/device_test.h"
#include "tests/support/sector_bytes.h"

namespace cartdump::test {
namespace {

using Transcript = std::vector<sim::BusAccess>;

class Group14 : public DeviceTest {
 protected:
  sim::BankedCart& cart() { return device().g14; }
  sim::RegisterPair& registers() { return device().g14.registers; }
  // The values of the exchanges in the transcript: each write to 0x2400 that is followed by a read
  // but does not open an exchange (an opening is followed by its greeting and the control pair).
  std::vector<uint8_t> exchanged_values() {
    std::vector<uint8_t> values;
    const Transcript& t = registers().transcript;
    for (size_t i = 0; i + 1 < t.size(); ++i) {
      const bool opening = i + 2 < t.size() && t[i + 2] == sim::BusAccess{sim::kControlPort, 0x28};
      if (!t[i].read && t[i].address == sim::kDataPort && t[i + 1].read && !opening) {
        values.push_back(t[i].value);
      }
    }
    return values;
  }
};

TEST_F(Group14, SingleSectorCommandLayouts) {
  struct Case {
    const char* what;
    std::function<void()> run;
    std::initializer_list<ByteAt> bytes;
  };
  const Case cases[] = {
      {"init", [] { g14_init(); }, {{1, 0x14}, {2, 0x01}}},
      {"command 0x02", [] { g14_command_02(); }, {{1, 0x14}, {2, 0x02}}},
      {"command 0x02 with a value", [] { g14_command_02_value(0x77); }, {{1, 0x14}, {2, 0x02}, {3, 0x01}, {4, 0x77}}},
      {"write byte to the control port", [] { g14_write_byte(0x2401, 0x28); },
       {{1, 0x14}, {2, 0x04}, {6, 0x01}, {7, 0x24}, {8, 0x01}, {12, 0x28}, {13, 0x00}, {14, 0x01}, {15, 0x24}}},
      {"write byte in bank 0x0A", [] { g14_write_byte(0xFF0A1234, 0x5C); },
       {{1, 0x14}, {2, 0x04}, {4, 0x0A}, {6, 0x34}, {7, 0x12}, {8, 0x01}, {12, 0x5C}, {13, 0x0A}, {14, 0x34}, {15, 0x12}}},
      {"read byte", [] { g14_read_byte(0x0A1234); }, {{1, 0x14}, {2, 0x03}, {4, 0x0A}, {6, 0x34}, {7, 0x12}, {8, 0x01}}},
      {"command 0x07", [] { g14_command_07(0x42); }, {{1, 0x14}, {2, 0x07}, {3, 0x42}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clear_record();
    c.run();
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_EQ(commands()[0].outcome, sim::Outcome::accepted);
    expect_sector(sent_sector(device(), 0), c.bytes);
  }
  EXPECT_EQ(cart().at(0x0A1234), 0x5C);
  EXPECT_EQ(registers().control, 0x28);
  EXPECT_EQ(cart().command_02_value, 0x77);
}

TEST_F(Group14, ReadComputesTheBankAfreshForEveryRequest) {
  std::vector<uint8_t> buffer(16384);
  EXPECT_EQ(g14_read(0x0001F000, buffer.data(), 8192), 8192u);
  expect_sector(sent_sector(device(), 0), {{1, 0x14}, {2, 0x03}, {4, 0x01}, {6, 0x00}, {7, 0xF0}, {9, 0x20}});

  clear_record();
  EXPECT_EQ(g14_read(0x0001F000, buffer.data(), 8200), 8200u);
  ASSERT_EQ(commands().size(), 2u);
  EXPECT_EQ(commands()[1].address, 0x021000u) << "bank 0x02, offset 0x1000";
  EXPECT_EQ(commands()[1].length, 8u);

  // Requests that meet the bank's end read on in the next bank.
  clear_record();
  EXPECT_EQ(g14_read(0x0001E000, buffer.data(), 16384), 16384u);
  ASSERT_EQ(commands().size(), 2u);
  EXPECT_EQ(commands()[1].address, 0x020000u);
  for (uint32_t i = 0; i < buffer.size(); ++i) {
    ASSERT_EQ(buffer[i], cart().at(0x1E000 + i)) << "byte " << i;
  }
  EXPECT_EQ(g14_read_byte(0x051234), cart().at(0x051234));
}

TEST_F(Group14, Write05KeepsItsBankAndWrapsWithinIt) {
  const std::vector<uint8_t> data = byte_pattern(768, 3);
  EXPECT_EQ(g14_write_05(0x09, 0x03, 0xFF00, data.data(), 768), 1024);
  ASSERT_EQ(calls().size(), 1u);
  ASSERT_EQ(commands().size(), 2u);
  const uint8_t offsets[2][2] = {{0x00, 0xFF}, {0x80, 0x00}};
  for (size_t k = 0; k < 2; ++k) {
    const std::vector<uint8_t> s = sent_sector(device(), k);
    EXPECT_EQ(s[2], 0x05);
    EXPECT_EQ(s[3], 0x09) << "selector";
    EXPECT_EQ(s[4], 0x03) << "bank";
    EXPECT_EQ(s[5], 0x00);
    EXPECT_EQ(s[6], offsets[k][0]);
    EXPECT_EQ(s[7], offsets[k][1]);
    EXPECT_EQ(s[8] | s[9] << 8, 384);
    EXPECT_EQ(s[10] | s[11], 0);
    expect_payload(s, 12, data.data() + 384 * k, 384);
  }
  for (uint32_t i = 0; i < 768; ++i) {
    ASSERT_EQ(cart().at(0x030000 | ((0xFF00 + i) & 0xFFFF)), data[i]) << "byte " << i;
  }
  EXPECT_EQ(g14_command_07(0x09), static_cast<uint8_t>(std::accumulate(data.begin(), data.end(), 0u)));
}

TEST_F(Group14, WriteListSendsAtMost124Entries) {
  std::vector<uint32_t> addresses(200);
  std::vector<uint8_t> values(200);
  for (uint32_t i = 0; i < 200; ++i) {
    addresses[i] = 0xAB000000 | (i % 16) << 16 | (0x3000 + 0x101 * i);
    values[i] = static_cast<uint8_t>(0xC0 ^ i);
  }
  const sim::BankedCart before = cart();
  EXPECT_EQ(g14_write_list(addresses.data(), values.data(), 200), 512);
  const std::vector<uint8_t> s = sent_sector(device(), 0);
  EXPECT_EQ(s[2], 0x04);
  for (size_t b = 3; b <= 7; ++b) {
    EXPECT_EQ(s[b], 0) << "byte " << b;
  }
  EXPECT_EQ(s[8] | s[9] << 8, 124);
  for (uint32_t i = 0; i < 124; ++i) {
    const uint8_t* e = s.data() + 12 + 4 * i;
    const uint32_t a = addresses[i];
    ASSERT_EQ((std::array<uint8_t, 4>{e[0], e[1], e[2], e[3]}),
              (std::array<uint8_t, 4>{values[i], static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a),
                                      static_cast<uint8_t>(a >> 8)}))
        << "entry " << i;
    EXPECT_EQ(cart().at(a), values[i]);
  }
  EXPECT_EQ(s[508], 0);
  EXPECT_EQ(s[509], 0);
  for (uint32_t i = 124; i < 200; ++i) {
    EXPECT_EQ(cart().at(addresses[i]), before.memory[addresses[i] & (sim::kBankedSize - 1)]) << "entry " << i;
  }

  clear_record();
  g14_write_list(addresses.data(), values.data(), 3);
  EXPECT_EQ(sent_sector(device(), 0)[8], 3);
  expect_payload(sent_sector(device(), 0), 12 + 12, nullptr, 0);
}

TEST_F(Group14, WriteBlockCutsTo256Bytes) {
  const std::vector<uint8_t> data = byte_pattern(300, 9);
  EXPECT_EQ(g14_write_block(0x21, 0x05, 0x8000, data.data(), 300), 512);
  const std::vector<uint8_t> s = sent_sector(device(), 0);
  EXPECT_EQ(s[2], 0x06);
  EXPECT_EQ(s[3], 0x21);
  EXPECT_EQ(s[4], 0x05);
  EXPECT_EQ(s[6] | s[7] << 8, 0x8000);
  EXPECT_EQ(s[8] | s[9] << 8, 256);
  expect_payload(s, 12, data.data(), 256);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 256, cart().memory.begin() + 0x58000));
  EXPECT_EQ(g14_command_07(0x21), static_cast<uint8_t>(std::accumulate(data.begin(), data.begin() + 256, 0u)));
}

TEST_F(Group14, Write08UsesTheFullAddress) {
  const std::vector<uint8_t> data = byte_pattern(600, 1);
  EXPECT_EQ(g14_write_08(0xFF01FF00, data.data(), 600), 1024);
  ASSERT_EQ(commands().size(), 2u);
  EXPECT_EQ(commands()[0].address, 0xFF01FF00u);
  EXPECT_EQ(commands()[0].length, 498u);
  EXPECT_EQ(commands()[1].address, 0xFF01FF00u + 498);
  EXPECT_EQ(commands()[1].length, 102u);
  expect_payload(sent_sector(device(), 1), 12, data.data() + 498, 102);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), cart().memory.begin() + 0x1FF00)) << "on across the bank";
}

// One exchange as the register pair sees it.
Transcript exchange(uint8_t greeting, uint8_t value, uint8_t answer) {
  Transcript t = {{0x2400, 0x09}, {0x2400, greeting, true}, {0x2401, 0x28}, {0x2401, 0x84}};
  if (greeting == 0x7D) {
    t.insert(t.end(), {{0x2400, 0x06}, {0x2400, 0x39}});
  }
  t.insert(t.end(), {{0x2400, value}, {0x2400, answer, true}});
  return t;
}

TEST_F(Group14, ExchangeWithAndWithoutTheBrace) {
  struct Case {
    bool brace;
    uint8_t value;
    uint8_t answer;
    size_t sectors;
  };
  const Case cases[] = {
      {false, 4, '*', 6}, {true, 4, '*', 8}, {false, 1, 4, 6}, {true, 0x55, 0x55, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.brace ? "brace" : "no brace");
    SCOPED_TRACE(c.value);
    device().g14 = sim::BankedCart{};  // a fresh cartridge
    clear_record();
    registers().brace_greeting = c.brace;
    EXPECT_EQ(g14_exchange_2400(c.value), c.answer);
    EXPECT_EQ(registers().transcript, exchange(c.brace ? '}' : '*', c.value, c.answer));
    EXPECT_EQ(registers().broken, 0u);
    EXPECT_EQ(commands().size(), c.sectors);
    EXPECT_EQ(calls().size(), c.sectors + 2) << "two reply reads";
  }
}

TEST_F(Group14, WaitForStar) {
  struct Case {
    int star_after;
    bool brace;
    bool result;
    size_t exchanges;
  };
  const Case cases[] = {
      {0, false, true, 0}, {1, false, true, 1}, {5, true, true, 5},
      {30, false, true, 30}, {31, false, false, 30}, {sim::kNever, true, false, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.star_after);
    device().g14 = sim::BankedCart{};  // a fresh cartridge
    clear_record();
    registers().star_after = c.star_after;
    registers().brace_greeting = c.brace;
    EXPECT_EQ(g14_wait_for_star(), c.result);
    EXPECT_EQ(commands()[0].command, 0x02);
    EXPECT_EQ(cart().command_02_value, 0) << "command 0x02 with the value 0";
    EXPECT_EQ(exchanged_values(), std::vector<uint8_t>(c.exchanges, 4));
    EXPECT_EQ(registers().broken, 0u);
    EXPECT_EQ(commands().size(), 2 + c.exchanges * (c.brace ? 8 : 6));
  }
}

TEST_F(Group14, CheckExchange) {
  struct Case {
    const char* what;
    int star_after;
    uint8_t version;
    bool result;
    std::vector<uint8_t> values;
  };
  const Case cases[] = {
      {"ready, answers 4", 0, 4, true, {4, 2, 1}},
      {"ready, answers 5", 0, 5, false, {4, 2, 1}},
      {"not ready: one exchange only", 2, 4, false, {4}},
      {"never ready", sim::kNever, 4, false, {4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device().g14 = sim::BankedCart{};  // a fresh cartridge
    clear_record();
    registers().star_after = c.star_after;
    registers().version = c.version;
    EXPECT_EQ(g14_check_exchange(), c.result);
    EXPECT_EQ(exchanged_values(), c.values);
    EXPECT_EQ(commands().size(), 6 * c.values.size());
  }
}

TEST_F(Group14, TheRegisterPairCountsAnExchangeThatSkipsTheBraceAnswerAsBroken) {
  registers().brace_greeting = true;
  for (const auto& [address, value] : {std::pair{0x2400u, 0x09}, {0x2401u, 0x28}, {0x2401u, 0x84}}) {
    g14_write_byte(address, static_cast<uint8_t>(value));
    if (value == 0x09) {
      EXPECT_EQ(g14_read_byte(0x2400), '}');
    }
  }
  g14_write_byte(0x2400, 4);
  EXPECT_EQ(g14_read_byte(0x2400), sim::kNoAnswer);
  EXPECT_EQ(registers().broken, 1u);
  EXPECT_EQ(g14_exchange_2400(4), '*') << "the next exchange starts afresh";
}

}  // namespace
}  // namespace cartdump::test

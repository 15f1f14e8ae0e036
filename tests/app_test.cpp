// The tool's own pieces that need no device: the header test and the console's safe text.
#include <gtest/gtest.h>

#include <string>

#include "app/console.h"
#include "app/dump.h"

namespace cartdump {
namespace {

TEST(HeaderTest, OnlyByte0MarksAnOrder) {
  struct Case {
    uint8_t bytes[4];
    bool accepted;
  };
  const Case cases[] = {
      {{0x80, 0x37, 0x12, 0x40}, true},  {{0x37, 0x80, 0x40, 0x12}, true}, {{0x40, 0x12, 0x37, 0x80}, true},
      {{0x12, 0x40, 0x80, 0x37}, true},  {{0x80, 0x00, 0x00, 0x00}, true},  // bytes 1 to 3 are not tested
      {{0x00, 0x37, 0x12, 0x40}, false}, {{0x81, 0x37, 0x12, 0x40}, false}, {{0xFF, 0xFF, 0xFF, 0xFF}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "byte 0 = " << int{c.bytes[0]});
    EXPECT_EQ(is_n64_header(c.bytes), c.accepted);
  }
}

TEST(ConsoleSafeText, ControlCharactersBecomeQuestionMarks) {
  struct Case {
    std::string text;
    uint32_t capacity;
    std::string shown;
  };
  const Case cases[] = {
      {"CARTSIM N64 READER", 64, "CARTSIM N64 READER"},
      {"\x1b]0;owned\x07" "EVIL", 64, "?]0;owned?EVIL"},
      {"\x1b[2J\x1b[31mred", 64, "?[2J?[31mred"},
      {"tab\there\r\nDEL\x7f", 64, "tab?here??DEL?"},
      {"Caf\xc3\xa9 \xe2\x98\x85", 64, "Caf\xc3\xa9 \xe2\x98\x85"},  // UTF-8 passes unchanged
      {"", 64, ""},
      {"ABCDEFGH", 5, "ABCD"},  // cut to the room given
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    char out[64];
    std::fill(std::begin(out), std::end(out), 'X');
    console_safe_text(c.text.c_str(), out, c.capacity);
    EXPECT_EQ(std::string(out), c.shown);
  }
}

TEST(ConsoleSafeText, ReadsNoFurtherThanItsCapacity) {
  // A name field that fills its whole room without a NUL.
  char name[8] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
  char out[8];
  console_safe_text(name, out, sizeof out);
  EXPECT_EQ(std::string(out), "ABCDEFG");
}

}  // namespace
}  // namespace cartdump

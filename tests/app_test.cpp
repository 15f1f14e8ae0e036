// The tool's own pieces that need no device: the header test, the console's safe text, the
// options of extended runs, the dump's rules on reply bytes, its progress line and the image report.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/dump.h"
#include "app/dump_rules.h"
#include "app/image_report.h"
#include "app/options.h"
#include "app/progress.h"
#include "sim/test_rom.h"

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

TEST(ConsoleSafeText, OnlyPrintableAsciiPasses) {
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
      // C1 controls raw and in UTF-8 (CSI, OSC, ST), and any other UTF-8: a '?' per byte.
      {"\x9b" "2J\x9d" "0;owned\x9c", 64, "?2J?0;owned?"},
      {"\xc2\x9b" "2J\xc2\x9d" "0;x\xc2\x9c", 64, "??2J??0;x??"},
      {"Caf\xc3\xa9 \xe2\x98\x85", 64, "Caf?? ???"},
      {" ~\x80\xff", 64, " ~??"},
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

// ---- Extended runs: options, the image scanner, the report as text and as JSON.

namespace cartdump {
namespace {

using Json = nlohmann::ordered_json;

TEST(Options, ParseOrSayWhyNot) {
  struct Case {
    std::vector<const char*> args;
    int status;
    const char* info_file;
    const char* output;
    bool z64;
    bool json;
    const char* catalogue;
    bool devices = false;
  };
  const Case cases[] = {
      {{"--info", "a.z64"}, kOptionsRun, "a.z64", "", false, false, nullptr},
      {{"--info=a.v64", "--json", "--catalogue", "c.ini"}, kOptionsRun, "a.v64", "", false, true, "c.ini"},
      {{"-o", "out.z64", "--z64"}, kOptionsRun, nullptr, "out.z64", true, false, nullptr},
      {{"--output", "x.n64", "--json"}, kOptionsRun, nullptr, "x.n64", false, true, nullptr},
      {{"--json"}, kOptionsRun, nullptr, "", false, true, nullptr},
      {{"--help"}, 0, nullptr, "", false, false, nullptr},
      {{"--version"}, 0, nullptr, "", false, false, nullptr},
      {{"--bogus"}, 2, nullptr, "", false, false, nullptr},
      {{"--info"}, 2, nullptr, "", false, false, nullptr},  // no value
      {{"--info", "a", "-o", "b"}, 2, nullptr, "", false, false, nullptr},  // a report on a file writes none
      {{"--info", "a", "--z64"}, 2, nullptr, "", false, false, nullptr},
      {{"stray"}, 2, nullptr, "", false, false, nullptr},
      {{"--catalogue"}, 2, nullptr, "", false, false, nullptr},
      {{"--devices"}, kOptionsRun, nullptr, "", false, false, nullptr, true},
      {{"--devices", "--json"}, kOptionsRun, nullptr, "", false, true, nullptr, true},
      // --devices dumps nothing and reports on no image
      {{"--devices", "--info", "a"}, 2, nullptr, "", false, false, nullptr},
      {{"--devices", "-o", "b"}, 2, nullptr, "", false, false, nullptr},
      {{"--devices", "--z64"}, 2, nullptr, "", false, false, nullptr},
      {{"--catalogue", "c.ini", "--devices"}, 2, nullptr, "", false, false, nullptr},
      {{"--devices", "--size", "8"}, 2, nullptr, "", false, false, nullptr},
      {{"--verify", "--devices"}, 2, nullptr, "", false, false, nullptr},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"n64dump"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string joined;
    for (const char* a : c.args) joined += std::string(a) + " ";
    SCOPED_TRACE(joined);
    Options options;
    ASSERT_EQ(parse_options(static_cast<int>(argv.size()), argv.data(), options), c.status);
    if (c.status != kOptionsRun) continue;
    EXPECT_EQ(options.info, c.info_file != nullptr);
    EXPECT_EQ(options.info_file, c.info_file != nullptr ? c.info_file : "");
    EXPECT_EQ(options.output, c.output);
    EXPECT_EQ(options.z64, c.z64);
    EXPECT_EQ(options.json, c.json);
    EXPECT_EQ(options.catalogue_given, c.catalogue != nullptr);
    EXPECT_EQ(options.catalogue, c.catalogue != nullptr ? c.catalogue : "");
    EXPECT_EQ(options.devices, c.devices);
  }
}

TEST(Options, SizeAndVerify) {
  struct Case {
    std::vector<const char*> args;
    int status;
    uint32_t size_mib;  // 0: auto
    bool verify;
  };
  const Case cases[] = {
      {{"--json"}, kOptionsRun, 0, false},
      {{"--size", "auto"}, kOptionsRun, 0, false},
      {{"--size", "1", "--verify"}, kOptionsRun, 1, true},
      {{"--size=64"}, kOptionsRun, 64, false},
      {{"--size", "32", "--z64"}, kOptionsRun, 32, false},
      {{"--size", "0"}, 2, 0, false},
      {{"--size", "65"}, 2, 0, false},
      {{"--size", "16M"}, 2, 0, false},
      {{"--size", "-4"}, 2, 0, false},
      {{"--size", "007"}, 2, 0, false},
      {{"--size"}, 2, 0, false},
      {{"--info", "a", "--size", "4"}, 2, 0, false},
      {{"--info", "a", "--verify"}, 2, 0, false},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"n64dump"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::Message() << c.args.size() << " arguments, first " << c.args[0]);
    Options options;
    ASSERT_EQ(parse_options(static_cast<int>(argv.size()), argv.data(), options), c.status);
    if (c.status != kOptionsRun) continue;
    EXPECT_EQ(options.size_mib, c.size_mib);
    EXPECT_EQ(options.verify, c.verify);
  }
}

// The answer checks and the signs of a cartridge's end, on reply bytes alone.
TEST(DumpRules, AnswerChecksSizeCandidatesAndOpenBus) {
  const std::vector<uint8_t> rom = sim::make_test_rom(3, 0x4000);
  const uint8_t* first = rom.data();
  const uint8_t* second = rom.data() + 0x2000;
  EXPECT_EQ(answer_problem(first, 1024, first, second, 0x2000, 0x1000000), "");
  const std::vector<uint8_t> zeros(0x2000, 0);
  EXPECT_EQ(answer_problem(first, 1024, zeros.data(), zeros.data(), 0x2000, 0x1000000),
            "the 8192 bytes at 0x01000000 came back as zeros, unlike the header read from there just before");
  EXPECT_EQ(answer_problem(first, 1024, second, first, 0x2000, 0x1000000),
            "the 8192 bytes at 0x01000000 came back different from the header read from there just before");
  EXPECT_EQ(answer_problem(first, 1024, first, first, 0x2000, 0x1000000),
            "the 8192 bytes at 0x01002000 are those at 0x01000000 again");

  const std::vector<uint32_t> mib = {4, 8, 12, 16, 20, 24, 32, 40, 48, 64};
  std::vector<uint32_t> candidates;
  for (const uint32_t size : size_candidates()) candidates.push_back(size >> 20);
  EXPECT_EQ(candidates, mib);
  EXPECT_EQ(size_reason(SizeRule::mirror, 32u << 20), "mirror from 32 MiB");
  EXPECT_EQ(size_reason(SizeRule::open_bus, 12u << 20), "open bus from 12 MiB");
  EXPECT_EQ(size_reason(SizeRule::limit, 64u << 20), "up to the 64 MiB limit");
  EXPECT_EQ(size_reason(SizeRule::asked, 16u << 20), "asked for 16 MiB");

  // Each big-endian halfword at address A reads A & 0xFFFF, also across a 64 KiB boundary.
  const uint32_t address = 0x100FFF0;
  std::vector<uint8_t> bus(64);
  for (uint32_t i = 0; i < bus.size(); i += 2) {
    bus[i] = static_cast<uint8_t>((address + i) >> 8);
    bus[i + 1] = static_cast<uint8_t>(address + i);
  }
  EXPECT_TRUE(is_open_bus(bus.data(), 64, address));
  EXPECT_FALSE(is_open_bus(bus.data(), 64, address + 2)) << "the words of another address";
  for (const size_t at : {size_t{0}, size_t{33}, size_t{63}}) {
    std::vector<uint8_t> changed = bus;
    changed[at] ^= 1;
    EXPECT_FALSE(is_open_bus(changed.data(), 64, address)) << at;
  }
  EXPECT_FALSE(is_open_bus(std::vector<uint8_t>(64, 0xFF).data(), 64, address)) << "0xFF padding is data";
}

TEST(ProgressLine, PercentMiBRateAndTimeLeft) {
  EXPECT_EQ(ProgressLine::text("", 8u << 20, 32u << 20, false, 2.0), " 25%  8.0 of 32 MiB  4.0 MiB/s  0:06 left");
  EXPECT_EQ(ProgressLine::text("", 12u << 20, 64u << 20, true, 3.0),
            " 19%  12.0 of \xE2\x89\xA4 64 MiB  4.0 MiB/s  0:13 left");
  EXPECT_EQ(ProgressLine::text("verifying", 0, 16u << 20, false, 0.0), "verifying   0%  0.0 of 16 MiB");
  EXPECT_EQ(ProgressLine::text("", 64u << 20, 64u << 20, false, 4.0), "100%  64.0 of 64 MiB  16.0 MiB/s  0:00 left");
  EXPECT_EQ(ProgressLine::text("", 1u << 20, 64u << 20, false, 3700.0), "  2%  1.0 of 64 MiB  0.0 MiB/s  64:45:00 left");
}

RomReport scan(const std::vector<uint8_t>& image, RomByteOrder order, size_t piece,
               const RomCatalogue* catalogue = nullptr) {
  ImageScanner scanner(order);
  for (size_t at = 0; at < image.size(); at += piece) {
    scanner.add(image.data() + at, std::min(piece, image.size() - at));
  }
  RomReport report{};
  scanner.finish(catalogue, report);
  return report;
}

// One image in the four orders and in pieces of any length gives one report: the same hashes (of
// the big-order image) and the same checksum; only the order differs.
TEST(ImageScanner, OneReportWhateverTheOrderAndThePieces) {
  const uint32_t size = 0x101000 + 6;  // and a last piece of a word
  std::vector<uint8_t> big = sim::make_test_rom(4, 0x101000, {"", "", RomChecksumFamily::family_6106});
  big.push_back(0xAB);
  big.push_back(0xCD);
  big.resize(size, 0x11);
  RomHashes expected{};
  ASSERT_EQ(rom_hashes_of(big.data(), size, &expected), 1);

  for (const RomByteOrder order :
       {RomByteOrder::big, RomByteOrder::byteswapped, RomByteOrder::little, RomByteOrder::wordswapped}) {
    std::vector<uint8_t> image = big;
    rom_convert_order(image.data(), size, order);
    for (const size_t piece : {size_t{3}, size_t{8192}, size_t{0x10000 + 1}, size_t{size}}) {
      SCOPED_TRACE(testing::Message() << rom_byte_order_name(order) << ", pieces of " << piece);
      const RomReport report = scan(image, order, piece);
      EXPECT_EQ(report.size, size);
      EXPECT_EQ(report.order, order);
      EXPECT_EQ(report.hashes.crc32, expected.crc32);
      EXPECT_EQ(report.hashes.md5, expected.md5);
      EXPECT_EQ(report.hashes.sha256, expected.sha256);
      EXPECT_EQ(report.check.state, RomCheckState::matches);
      EXPECT_EQ(report.check.matched, RomChecksumFamily::family_6106);
      EXPECT_EQ(std::string(report.header.title, report.header.title_length), "TESTROM 000000000004");
    }
  }
}

TEST(ReportText, ValidUtf8AndNoControlCharacters) {
  struct Case {
    std::string in;
    std::string utf8;
    std::string terminal;
  };
  const std::string r = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"plain", "plain", "plain"},
      {"Caf\xC3\xA9 \xE2\x98\x85 \xF0\x9F\x8E\xAE", "Caf\xC3\xA9 \xE2\x98\x85 \xF0\x9F\x8E\xAE",
       "Caf\xC3\xA9 \xE2\x98\x85 \xF0\x9F\x8E\xAE"},
      {"\x1B[2J\x07\x7F", "\x1B[2J\x07\x7F", "?[2J??"},
      {std::string("a\0b", 3), std::string("a\0b", 3), "a?b"},
      {"\xC2\x9B" "31m", "\xC2\x9B" "31m", "?31m"},  // C1 CSI
      {"\xFF\xFE", r + r, r + r},
      {"\xC3", r, r},                                   // cut short
      {"\xC0\xAF", r + r, r + r},                       // overlong
      {"\xED\xA0\x80", r + r + r, r + r + r},           // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r, r + r + r + r},  // past U+10FFFF
      {"\x80x", r + "x", r + "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    EXPECT_EQ(valid_utf8(c.in), c.utf8);
    EXPECT_EQ(terminal_text(c.in), c.terminal);
  }
}

struct Fixture {
  std::vector<uint8_t> image;
  RomReport report{};
  CatalogueSource catalogue;
};

// A 6105 image, and a catalogue that lists its MD5 under name (or lists nothing of it), or none.
Fixture fixture(const char* name, const std::string& title = "") {
  Fixture f;
  f.image = sim::make_test_rom(2, 0x101000, {title, "NABP", RomChecksumFamily::family_6105});
  RomHashes hashes{};
  rom_hashes_of(f.image.data(), static_cast<uint32_t>(f.image.size()), &hashes);
  char md5[2 * kMd5Size + 1];
  rom_hex(hashes.md5.data(), kMd5Size, md5);
  const std::string text = name != nullptr ? std::string("[") + md5 + "]\nGoodName=" + name + "\nSaveType=SRAM\n" : "";
  rom_catalogue_parse(text.data(), static_cast<uint32_t>(text.size()), &f.catalogue.catalogue);
  f.catalogue.loaded = true;
  f.catalogue.path = "test.ini";
  f.report = scan(f.image, RomByteOrder::big, 8192, &f.catalogue.catalogue);
  return f;
}

std::string line(const std::vector<ReportLine>& lines, const std::string& label, ConsoleColor* color = nullptr) {
  for (const ReportLine& l : lines) {
    if (l.label == label) {
      if (color != nullptr) *color = l.color;
      return l.text;
    }
  }
  return "(no line " + label + ")";
}

TEST(ReportJson, TheKeysInOrderWithLowercaseHex) {
  const Fixture f = fixture("Test Cartridge (E) [!]");
  const DumpFacts dump{.output = "out.z64", .size_reason = "mirror from 4 MiB", .verified = true, .reread_chunks = 2,
                       .unstable = {0x1002000}};
  const Json json = Json::parse(report_json(f.report, f.catalogue, &dump));
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  const std::vector<std::string> expected = {
      "size", "byte_order", "title", "game_id", "region", "version", "cic", "checksum_family", "crc1", "crc2",
      "crc1_computed", "crc2_computed", "checksum_ok", "crc32", "md5", "sha1", "sha256", "catalogue", "output",
      "size_reason", "verified", "reread_chunks", "unstable"};
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(json["size"], 0x101000);
  EXPECT_EQ(json["byte_order"], "big");
  EXPECT_EQ(json["title"], "TESTROM 000000000002");
  EXPECT_EQ(json["game_id"], "NABP");
  EXPECT_EQ(json["region"], "Europe");
  EXPECT_EQ(json["version"], 0);
  EXPECT_TRUE(json["cic"].is_null());
  EXPECT_EQ(json["checksum_family"], "6105");
  EXPECT_EQ(json["checksum_ok"], true);
  EXPECT_EQ(json["crc1"], json["crc1_computed"]);
  for (const char* key : {"crc1", "crc2", "crc32"}) {
    const std::string value = json[key];
    EXPECT_EQ(value.size(), 8u) << key;
    EXPECT_EQ(value.find_first_not_of("0123456789abcdef"), std::string::npos) << key << " " << value;
  }
  EXPECT_EQ(std::string(json["sha256"]).size(), 64u);
  EXPECT_EQ(json["catalogue"],
            Json::parse(R"({"name": "Test Cartridge (E) [!]", "status": "verified", "save_type": "SRAM",
                            "matched_by": "md5"})"));
  EXPECT_EQ(json["output"], "out.z64");
  EXPECT_EQ(json["size_reason"], "mirror from 4 MiB");
  EXPECT_EQ(json["verified"], true);
  EXPECT_EQ(json["reread_chunks"], 2);
  EXPECT_EQ(json["unstable"], Json::parse("[16785408]"));
  // A report on a file has none of a dump's keys.
  const Json on_file = Json::parse(report_json(f.report, f.catalogue, nullptr));
  for (const char* key : {"output", "size_reason", "verified", "reread_chunks", "unstable"}) {
    EXPECT_FALSE(on_file.contains(key)) << key;
  }
}

TEST(ReportJson, NullWhereNothingIsKnown) {
  // 16 bytes with no byte order mark, no catalogue.
  const std::vector<uint8_t> image(16, 0x41);
  CatalogueSource none;
  const RomReport report = scan(image, RomByteOrder::unknown, 16);
  const Json json = Json::parse(report_json(report, none, nullptr));
  for (const char* key : {"byte_order", "title", "game_id", "region", "version", "cic", "checksum_family", "crc1",
                          "crc2", "crc1_computed", "crc2_computed", "checksum_ok", "catalogue"}) {
    EXPECT_TRUE(json[key].is_null()) << key;
  }
  EXPECT_EQ(json["size"], 16);
  EXPECT_EQ(json["md5"], "d8a73157ce10cd94a91c2079fc9a92c8");  // of "AAAAAAAAAAAAAAAA", by Python's hashlib
}

// Header bytes that are not text never make invalid JSON nor reach the terminal as controls; nor do
// a catalogue's names.
TEST(ReportJson, BytesThatAreNotTextStayHarmless) {
  Fixture f = fixture("Bad \xFF\x1B[31m name [b1]", "\x1B]0;x\x07\xFF\xA1");
  const Json json = Json::parse(report_json(f.report, f.catalogue, nullptr));  // throws on invalid UTF-8
  EXPECT_EQ(json["title"], "\x1B]0;x\x07\xEF\xBF\xBD\xEF\xBD\xA1");
  EXPECT_EQ(json["catalogue"]["name"], "Bad \xEF\xBF\xBD\x1B[31m name [b1]");
  EXPECT_EQ(json["catalogue"]["status"], "bad");
  for (const ReportLine& l : report_lines(f.report, f.catalogue)) {
    for (const char c : l.text) EXPECT_FALSE(static_cast<uint8_t>(c) < 0x20 || c == 0x7F) << l.label << ": " << l.text;
  }
  EXPECT_EQ(line(report_lines(f.report, f.catalogue), "Title"), "?]0;x?\xEF\xBF\xBD\xEF\xBD\xA1");
}

TEST(ReportLines, ChecksumAndCatalogueInTheirColours) {
  ConsoleColor color{};
  const Fixture good = fixture("Test Cartridge (E) [!]");
  std::vector<ReportLine> lines = report_lines(good.report, good.catalogue);
  std::vector<std::string> labels;
  for (const ReportLine& l : lines) labels.push_back(l.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"Title", "Game id", "Version", "Boot code", "Checksum", "Size", "CRC-32",
                                              "MD5", "SHA-1", "SHA-256", "Catalogue"}));
  EXPECT_EQ(line(lines, "Game id"), "NABP, Europe");
  EXPECT_EQ(line(lines, "Boot code"), "unknown");
  EXPECT_NE(line(lines, "Checksum", &color).find(" matches (6105/7105)"), std::string::npos);
  EXPECT_EQ(color, ConsoleColor::notice);
  EXPECT_EQ(line(lines, "Size"), "1052672 bytes, big-endian");
  EXPECT_EQ(line(lines, "Catalogue", &color), "Test Cartridge (E) [!]: verified, save type SRAM");
  EXPECT_EQ(color, ConsoleColor::notice);

  Fixture damaged = fixture("Test Cartridge (E) [o1]");
  damaged.image[0x1234] ^= 0x04;
  damaged.report = scan(damaged.image, RomByteOrder::big, 4096, &damaged.catalogue.catalogue);
  lines = report_lines(damaged.report, damaged.catalogue);
  EXPECT_EQ(line(lines, "Checksum", &color).rfind("DOES NOT MATCH", 0), 0u) << line(lines, "Checksum");
  EXPECT_EQ(color, ConsoleColor::error);
  // Its MD5 changed with the bit: the header's CRC pair is all the catalogue could go by.
  EXPECT_EQ(line(lines, "Catalogue", &color), "not listed");

  const Fixture overdump = fixture("Test Cartridge (E) [o1]");
  EXPECT_EQ(line(report_lines(overdump.report, overdump.catalogue), "Catalogue", &color),
            "Test Cartridge (E) [o1]: overdump, save type SRAM");
  EXPECT_EQ(color, ConsoleColor::error);
  EXPECT_EQ(overdump.report.suspect, 1);

  // Listed by its CRC pair alone.
  Fixture unconfirmed = fixture(nullptr);
  char pair[40];
  std::snprintf(pair, sizeof pair, "CRC=%08X %08X\n", unconfirmed.report.header.crc1, unconfirmed.report.header.crc2);
  const std::string text = std::string("[00000000000000000000000000000000]\nGoodName=Known (E) [!]\n") + pair;
  rom_catalogue_parse(text.data(), static_cast<uint32_t>(text.size()), &unconfirmed.catalogue.catalogue);
  unconfirmed.report = scan(unconfirmed.image, RomByteOrder::big, 8192, &unconfirmed.catalogue.catalogue);
  EXPECT_EQ(line(report_lines(unconfirmed.report, unconfirmed.catalogue), "Catalogue", &color),
            "unconfirmed: the header names Known (E) [!], but the image matches no known dump of it; the dump may "
            "be bad or may be the wrong size");
  EXPECT_EQ(color, ConsoleColor::error);
  EXPECT_EQ(Json::parse(report_json(unconfirmed.report, unconfirmed.catalogue, nullptr))["catalogue"]["matched_by"],
            "crc");

  CatalogueSource missing;
  missing.path = "/nowhere/mupen64plus.ini";
  missing.problem = "No such file or directory";
  EXPECT_EQ(line(report_lines(good.report, missing), "Catalogue"),
            "none (/nowhere/mupen64plus.ini: No such file or directory)");
}

// After a dump: how its size was decided and what its verification found.
TEST(ReportLines, WhatADumpAdds) {
  ConsoleColor color{};
  const Fixture good = fixture("Test Cartridge (E) [!]");
  DumpFacts dump{.output = "out.z64", .size_reason = "open bus from 12 MiB"};
  std::vector<ReportLine> lines = report_lines(good.report, good.catalogue, &dump);
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(line(lines, "Sized by"), "open bus from 12 MiB");
  EXPECT_EQ(line(lines, "Verified"), "no: every chunk was read once (--verify reads twice)");
  dump.verified = true;
  dump.reread_chunks = 1;
  EXPECT_EQ(line(report_lines(good.report, good.catalogue, &dump), "Verified", &color),
            "every chunk read twice and agreed; 1 chunk needed re-reads");
  EXPECT_EQ(color, ConsoleColor::notice);
  dump.reread_chunks = 3;
  dump.unstable = {0x1002000, 0x1FFE000};
  EXPECT_EQ(line(report_lines(good.report, good.catalogue, &dump), "Verified", &color),
            "2 chunks never read the same twice in a row, at device addresses 0x01002000, 0x01ffe000; 3 chunks "
            "needed re-reads");
  EXPECT_EQ(color, ConsoleColor::error);
}

TEST(LoadCatalogue, AMissingOrUnreadableFileSaysWhy) {
  CatalogueSource source;
  EXPECT_FALSE(load_catalogue("no-such-catalogue.ini", source));
  EXPECT_FALSE(source.loaded);
  EXPECT_FALSE(source.problem.empty());
  // A directory opens on some systems but cannot be read as a file.
  EXPECT_FALSE(load_catalogue(".", source));
  EXPECT_FALSE(source.problem.empty());
}

}  // namespace
}  // namespace cartdump

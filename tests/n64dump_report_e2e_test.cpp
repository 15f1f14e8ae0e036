// n64dump's extended runs end to end: the built tool run as a user runs it, on image files that
// testrom writes (--info, no device) and against cartsim (an extended dump). The hashes it reports
// are compared with coreutils' md5sum, the JSON is read with nlohmann-json.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/test_rom.h"
#include "tests/support/cartsim_mount.h"
#include "tests/support/host_volumes.h"
#include "tests/support/tool_run.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr uint32_t kDumpSize = 16 * 1024 * 1024;
constexpr const char* kPrompt = "Please press any key to exit...";

std::vector<uint8_t> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The MD5 as coreutils computes it.
std::string md5sum(const fs::path& path) {
  std::string out;
  if (run_program({"/usr/bin/md5sum", path.string()}, &out) != 0 || out.size() < 32) return "md5sum failed: " + out;
  return out.substr(0, 32);
}

// The JSON object that is the whole of a run's stdout; null (and a failure) when it is not one.
Json json_of(const ToolRun& run) {
  try {
    return Json::parse(run.out);
  } catch (const std::exception& error) {
    ADD_FAILURE() << "stdout is not one JSON object (" << error.what() << "): " << run.out.substr(0, 300);
    return nullptr;
  }
}

fs::path scratch_for_test(const char* area) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) c = (c == '/') ? '_' : c;
  const fs::path dir = fs::current_path() / area / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

class Info : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = scratch_for_test("n64dump_report_e2e");
    write_file(empty_catalogue(), std::string("; no cartridges\n"));
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path empty_catalogue() const { return dir_ / "empty.ini"; }

  // testrom's image with these options, in a file of the scratch directory.
  fs::path testrom(const std::string& name, const std::vector<std::string>& options) {
    std::vector<std::string> args = {testrom_program(), "-o", (dir_ / name).string()};
    args.insert(args.end(), options.begin(), options.end());
    std::string out;
    EXPECT_EQ(run_program(args, &out), 0) << out;
    return dir_ / name;
  }

  ToolRun n64dump(const std::vector<std::string>& args, const Environment& env = {}) {
    std::vector<std::string> all = {n64dump_program()};
    all.insert(all.end(), args.begin(), args.end());
    return run_tool(all, dir_.string(), env);
  }

  fs::path dir_;
};

TEST_F(Info, TheFourByteOrdersOfAnImageGiveOneReport) {
  const std::vector<std::string> cartridge = {"--seed", "11", "--size", "4M", "--cic", "6102"};
  Json first;
  for (const char* order : {"big", "byteswapped", "little", "wordswapped"}) {
    SCOPED_TRACE(order);
    std::vector<std::string> options = cartridge;
    options.insert(options.end(), {"--order", order});
    const fs::path image = testrom(std::string(order) + ".img", options);
    const ToolRun run = n64dump({"--info", image.string(), "--json", "--catalogue", empty_catalogue().string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    Json json = json_of(run);
    EXPECT_EQ(json["byte_order"], order);
    EXPECT_EQ(json["checksum_ok"], true);
    EXPECT_EQ(json["checksum_family"], "6102");
    EXPECT_EQ(json["size"], 4 * 1024 * 1024);
    if (std::string(order) == "big") {
      EXPECT_EQ(json["md5"], md5sum(image)) << "the MD5 is the big-order image's";
    }
    json.erase("byte_order");
    if (first.is_null()) {
      first = json;
    } else {
      EXPECT_EQ(json, first) << "the same hashes and checksum in every order";
    }
  }
}

// A one-bit change inside the megabyte the checksum reads fails the check; outside it, not.
TEST_F(Info, OneBitInsideTheChecksummedMegabyteMakesTheImageSuspect) {
  const fs::path good = testrom("good.z64", {"--seed", "12", "--size", "2M", "--cic", "6103"});
  const std::vector<uint8_t> image = read_file(good);
  struct Case {
    int64_t bit_at;  // byte offset of the flipped bit; -1 for none
    int status;
    bool checksum_ok;
  };
  const Case cases[] = {{-1, 0, true},       {0x1000, 3, false}, {0x8F00F, 3, false}, {0x100FFF, 3, false},
                        {0x101000, 0, true}, {0xFFF, 0, true},   {0x1FFFFF, 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "bit at 0x" << std::hex << c.bit_at);
    std::vector<uint8_t> changed = image;
    if (c.bit_at >= 0) changed[static_cast<size_t>(c.bit_at)] ^= 0x20;
    write_file(dir_ / "changed.z64", changed);
    const ToolRun run = n64dump({"--info", "changed.z64", "--json", "--catalogue", empty_catalogue().string()});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(json_of(run)["checksum_ok"], c.checksum_ok);
  }
  // The human report says so, in words.
  std::vector<uint8_t> changed = image;
  changed[0x2000] ^= 0x01;
  write_file(dir_ / "changed.z64", changed);
  const ToolRun run = n64dump({"--info", "changed.z64", "--catalogue", empty_catalogue().string()});
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.out.find("Checksum   DOES NOT MATCH: the header has "), std::string::npos) << run.out;
}

TEST_F(Info, TheCatalogueNamesTheDumpAndItsStatus) {
  const fs::path image = testrom("cart.z64", {"--seed", "13", "--size", "2M", "--cic", "6105", "--game-id", "NTSP"});
  const std::string md5 = md5sum(image);
  struct Case {
    std::string name;
    int status;
    const char* catalogue_status;
  };
  const Case cases[] = {{"Test (E) [!]", 0, "verified"}, {"Test (E) [b1]", 3, "bad"},
                        {"Test (E) [o1]", 3, "overdump"}, {"Test (E) [h1C]", 0, "hack"},
                        {"Test (E)", 0, "listed"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir_ / "cat.ini", "[" + md5 + "]\nGoodName=" + c.name + "\nSaveType=Eeprom 4KB\n");
    const ToolRun run = n64dump({"--info", image.string(), "--json", "--catalogue", "cat.ini"});
    EXPECT_EQ(run.status, c.status);
    const Json json = json_of(run);
    EXPECT_EQ(json["catalogue"],
              Json({{"name", c.name}, {"status", c.catalogue_status}, {"save_type", "Eeprom 4KB"}, {"matched_by", "md5"}}));
  }

  // Known by the header's CRC pair alone; an MD5 match of another section beats it.
  const Json report = json_of(n64dump({"--info", image.string(), "--json", "--catalogue", empty_catalogue().string()}));
  const std::string crc = "CRC=" + std::string(report["crc1"]) + " " + std::string(report["crc2"]) + "\n";
  write_file(dir_ / "cat.ini", "[00000000000000000000000000000000]\nGoodName=Known (E) [!]\n" + crc);
  ToolRun run = n64dump({"--info", image.string(), "--json", "--catalogue", "cat.ini"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(json_of(run)["catalogue"],
            Json({{"name", "Known (E) [!]"}, {"status", "unconfirmed"}, {"save_type", nullptr}, {"matched_by", "crc"}}));
  run = n64dump({"--info", image.string(), "--catalogue", "cat.ini"});
  EXPECT_NE(run.out.find("may be bad or may be the wrong size"), std::string::npos) << run.out;

  write_file(dir_ / "cat.ini", "[00000000000000000000000000000000]\nGoodName=Known (E) [!]\n" + crc + "[" + md5 +
                                   "]\nGoodName=Mine (E) [a1]\n");
  EXPECT_EQ(json_of(n64dump({"--info", image.string(), "--json", "--catalogue", "cat.ini"}))["catalogue"]["name"],
            "Mine (E) [a1]");
}

TEST_F(Info, AMissingOrUnreadableCatalogue) {
  const fs::path image = testrom("cart.z64", {"--seed", "14", "--size", "2M", "--cic", "6106"});
  // One named and not there, or not a file: the run stops before it reads anything.
  for (const std::string& named : {std::string("missing.ini"), dir_.string()}) {
    SCOPED_TRACE(named);
    const ToolRun run = n64dump({"--info", image.string(), "--json", "--catalogue", named});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("Can not read " + named + ": ", 0), 0u) << run.err;
  }
  // The default one (Debian's mupen64plus-data) when it is there: this image is not in it.
  const bool installed = fs::exists("/usr/share/games/mupen64plus/mupen64plus.ini");
  const ToolRun run = n64dump({"--info", image.string()});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find(installed ? "Catalogue  not listed\n" : "Catalogue  none (/usr/share/games/mupen64plus/"),
            std::string::npos)
      << run.out;
}

TEST_F(Info, UsageErrorsAndMissingFiles) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--info"}, {"--info", "a.z64", "--z64"}, {"--info", "a.z64", "-o", "b.z64"}, {"stray"}}) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    const ToolRun run = n64dump(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("n64dump: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("Usage: n64dump [OPTIONS]"), std::string::npos) << run.err;
  }
  ToolRun run = n64dump({"--info", "no-such.z64", "--json"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("Can not read no-such.z64: ", 0), 0u) << run.err;
  EXPECT_EQ(run.err.find(kPrompt), std::string::npos) << "an extended run never waits for a key";

  run = n64dump({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("n64dump ", 0), 0u) << run.out;
}

// Files too short for a header or with no byte order mark are reported on all the same.
TEST_F(Info, ShortAndUnmarkedFiles) {
  for (const size_t size : {size_t{0}, size_t{3}, size_t{0x40}, size_t{0x1001}}) {
    SCOPED_TRACE(size);
    write_file(dir_ / "short.bin", std::vector<uint8_t>(size, 0x41));
    const ToolRun run = n64dump({"--info", "short.bin", "--json", "--catalogue", empty_catalogue().string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const Json json = json_of(run);
    EXPECT_EQ(json["size"], size);
    EXPECT_TRUE(json["byte_order"].is_null());
    EXPECT_TRUE(json["checksum_ok"].is_null()) << "too short to check";
    EXPECT_EQ(json["title"].is_null(), size < 0x40);
  }
}

// Header bytes that are not text reach neither the JSON as invalid UTF-8 nor the terminal as
// control characters.
TEST_F(Info, HeaderBytesThatAreNotText) {
  const fs::path image = testrom(
      "odd.z64", {"--size", "64K", "--title", "\x1b]0;pwned\x07\x1b[2J\xff\xb1", "--game-id", "\x9b\x1b\xa1\x7f"});
  const ToolRun run = n64dump({"--info", image.string(), "--json", "--catalogue", empty_catalogue().string()});
  EXPECT_EQ(run.status, 0);
  const Json json = json_of(run);  // nlohmann rejects invalid UTF-8
  EXPECT_EQ(json["title"], "\x1b]0;pwned\x07\x1b[2J\xEF\xBF\xBD\xEF\xBD\xB1");
  EXPECT_EQ(json["game_id"], "\xEF\xBF\xBD\x1b\xEF\xBD\xA1\x7f");

  ToolRun terminal = run_tool_in_terminal({n64dump_program(), "--info", image.string(), "--catalogue",
                                           empty_catalogue().string()},
                                          dir_.string(), {{"NO_COLOR", "1"}});
  EXPECT_EQ(terminal.status, 0);
  EXPECT_NE(terminal.out.find("Title      ?]0;pwned??[2J\xEF\xBF\xBD\xEF\xBD\xB1\r\n"), std::string::npos)
      << terminal.out;
  for (const char c : terminal.out) {
    EXPECT_FALSE((static_cast<uint8_t>(c) < 0x20 && c != '\r' && c != '\n') || c == 0x7F)
        << "control character " << int{c};
  }
  // With colours, the only escape sequences are the report's own.
  terminal = run_tool_in_terminal({n64dump_program(), "--info", image.string(), "--catalogue",
                                   empty_catalogue().string()},
                                  dir_.string());
  std::string text = terminal.out;
  for (const char* sequence : {"\x1b[91m", "\x1b[92m", "\x1b[39m"}) {
    for (size_t at = text.find(sequence); at != std::string::npos; at = text.find(sequence)) text.erase(at, 5);
  }
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << terminal.out;
}

// ---- Extended dumps against cartsim.

class ExtendedDump : public CartsimTest {
 protected:
  void SetUp() override {
    CartsimTest::SetUp();
    if (IsSkipped()) return;
    dir_ = scratch_for_test("n64dump_report_e2e");
    fs::create_directories(work());
    write_file(dir_ / "empty.ini", std::string("; no cartridges\n"));
  }
  void TearDown() override {
    CartsimTest::TearDown();
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  fs::path work() const { return dir_ / "work"; }

  // cartsim with the fixture's rom, seen by the host as a removable volume after a fixed one.
  void plug_in() {
    ASSERT_NO_FATAL_FAILURE(mount());
    env_ = write_host_volumes((dir_ / "host").string(), {{"/", false}, {cartsim.mount_path(), true}});
  }

  ToolRun n64dump(const std::vector<std::string>& args) {
    std::vector<std::string> all = {n64dump_program()};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--catalogue", (dir_ / "empty.ini").string()});
    return run_tool(all, work().string(), env_);
  }

  Environment env_;
  fs::path dir_;
};

// A byte-swapped cartridge dumped with --z64 -o F --json: F holds the big-order image, and the
// report on stdout is the report on F.
TEST_F(ExtendedDump, Z64OfAByteSwappedCartridgeWithTheJsonReport) {
  const std::vector<uint8_t> big = sim::make_test_rom(21, kDumpSize, {"", "", RomChecksumFamily::family_6102});
  rom = big;
  sim::convert_byte_order(rom, sim::ByteOrder::byteswapped);
  ASSERT_NO_FATAL_FAILURE(plug_in());

  const ToolRun run = n64dump({"--z64", "-o", "cart.z64", "--json"});
  EXPECT_EQ(run.status, 0) << run.err.substr(0, 300);
  EXPECT_TRUE(read_file(work() / "cart.z64") == big) << "the image is the cartridge in big order";
  EXPECT_FALSE(fs::exists(work() / "Dump16M.n64"));
  Json json = json_of(run);
  EXPECT_EQ(json["md5"], md5sum(work() / "cart.z64"));
  EXPECT_EQ(json["output"], "cart.z64");
  EXPECT_EQ(json["byte_order"], "big");
  EXPECT_EQ(json["checksum_ok"], true);
  EXPECT_EQ(json["size"], kDumpSize);
  // The transcript goes to stderr, without the key prompt, and off a terminal without progress.
  EXPECT_EQ(run.err, "Device: CARTSIM N64 READER\n37804012\nStart dump....\nWrite rom to file cart.z64(16777216bytes).\n");
  EXPECT_EQ(json["size_reason"], "open bus from 16 MiB");
  EXPECT_EQ(json["verified"], false);
  EXPECT_EQ(json["unstable"], Json::array());

  // It is what --info says of the file written.
  const ToolRun info = run_tool({n64dump_program(), "--info", "cart.z64", "--json", "--catalogue",
                                 (dir_ / "empty.ini").string()},
                                work().string());
  for (const char* key : {"output", "size_reason", "verified", "reread_chunks", "unstable"}) json.erase(key);
  EXPECT_EQ(json_of(info), json);
}

// Without -o the image is "Dump16M.n64" in the order the cartridge delivers; the human report
// follows the transcript; a checksum that does not match exits 3 with the image written.
TEST_F(ExtendedDump, DefaultNameAndTheHumanReport) {
  rom = sim::make_test_rom(22, kDumpSize);  // the maker's own checksum words: no family's
  write_file(dir_ / "big.z64", rom);
  sim::convert_byte_order(rom, sim::ByteOrder::little);
  ASSERT_NO_FATAL_FAILURE(plug_in());

  const ToolRun run = n64dump({});
  EXPECT_EQ(run.status, 3) << run.out.substr(0, 300);
  EXPECT_TRUE(read_file(work() / "Dump16M.n64") == rom) << "the image as the cartridge delivered it";
  EXPECT_EQ(run.out.rfind("Device: CARTSIM N64 READER\n40123780\nStart dump....\n", 0), 0u);
  const size_t report = run.out.find("Write rom to file Dump16M.n64(16777216bytes).\nTitle      TESTROM 000000000016\n");
  ASSERT_NE(report, std::string::npos) << run.out.substr(run.out.size() - 1000);
  EXPECT_NE(run.out.find("Checksum   DOES NOT MATCH", report), std::string::npos);
  EXPECT_NE(run.out.find("Size       16777216 bytes (16 MiB), little-endian\n", report), std::string::npos);
  EXPECT_NE(run.out.find("MD5        " + md5sum(dir_ / "big.z64") + "\n", report), std::string::npos)
      << "the MD5 of the big-order image";
  EXPECT_EQ(run.err, "");

  // --z64 alone names the file .z64.
  const ToolRun z64 = n64dump({"--z64", "--json"});
  EXPECT_EQ(z64.status, 3);
  EXPECT_EQ(json_of(z64)["output"], "Dump16M.z64");
  EXPECT_TRUE(fs::exists(work() / "Dump16M.z64"));
}

// A failed extended run says why and ends: no key prompt, nothing on stdout with --json.
TEST_F(ExtendedDump, AFailureNeverWaitsForAKey) {
  env_ = write_host_volumes((dir_ / "host").string(), {{"/", false}});  // no device
  ToolRun run = n64dump({});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Open device error.\n");
  run = n64dump({"--json", "--z64"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Open device error.\n");
  EXPECT_FALSE(fs::exists(work() / "Dump16M.z64"));
}

}  // namespace
}  // namespace cartdump::test

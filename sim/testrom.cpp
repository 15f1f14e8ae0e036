// testrom: writes a synthetic N64 cartridge image (see test_rom.h) in one of the four byte orders.
//   testrom --seed N --size BYTES --order big|byteswapped|little|wordswapped
//           [--cic FAMILY] [--title TEXT] [--game-id CODE] -o FILE
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "sim/test_rom.h"

namespace {

using cartdump::sim::ByteOrder;

constexpr const char* kUsage =
    "usage: testrom [--seed N] [--size BYTES] [--order ORDER] [--cic FAMILY] [--title TEXT]\n"
    "               [--game-id CODE] -o FILE\n"
    "Writes a synthetic N64 cartridge image: a header (first word 80 37 12 40 in big order, a\n"
    "title, the game code NZZE, two checksum words), then pseudo-random bytes from the seed.\n"
    "The same seed and size give the same cartridge in every order.\n"
    "  --seed N       seed of the contents (default 1)\n"
    "  --size BYTES   image size, a multiple of 4 and at least 64; K and M suffixes count\n"
    "                 1024 and 1048576 bytes (default 16M)\n"
    "  --order ORDER  big (80 37 12 40, default), byteswapped (37 80 40 12),\n"
    "                 little (40 12 37 80) or wordswapped (12 40 80 37)\n"
    "  --cic FAMILY   the header carries the boot-code checksum words of that family (6101, 6102,\n"
    "                 7101, 7102, 6103, 7103, 6105, 7105, 6106, 7106 or 5101) instead of the\n"
    "                 maker's own; the image must hold what the checksum reads\n"
    "  --title TEXT   the title, at most 20 bytes (padded with spaces)\n"
    "  --game-id CODE the game id, 4 bytes (its last names the region)\n"
    "  -o FILE        the image file to write\n"
    "  --help         this text\n";

// A whole number, decimal or 0x-hexadecimal, with an optional K or M suffix when suffixes count.
bool parse_number(const char* text, bool suffixes, uint64_t& value) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *text == '-') {
    return false;
  }
  uint64_t scale = 1;
  if (suffixes && (*end == 'K' || *end == 'k')) {
    scale = 1024;
    ++end;
  } else if (suffixes && (*end == 'M' || *end == 'm')) {
    scale = 1024 * 1024;
    ++end;
  }
  if (*end != '\0' || n > UINT64_MAX / scale) {
    return false;
  }
  value = n * scale;
  return true;
}

int fail(const std::string& complaint) {
  std::fprintf(stderr, "testrom: %s\n%s", complaint.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t seed = 1;
  uint64_t size = 16 * 1024 * 1024;
  ByteOrder order = ByteOrder::big;
  cartdump::sim::TestRomHeader header;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      return fail("unknown option or missing value: " + std::string(option));
    }
    const char* value = argv[++i];
    if (option == "--seed") {
      if (!parse_number(value, false, seed)) return fail("bad seed: " + std::string(value));
    } else if (option == "--size") {
      if (!parse_number(value, true, size) || !cartdump::sim::test_rom_size_valid(size)) {
        return fail("bad size: " + std::string(value));
      }
    } else if (option == "--order") {
      if (!cartdump::sim::byte_order_named(value, order)) return fail("unknown order: " + std::string(value));
    } else if (option == "--cic") {
      if (!cartdump::rom_family_named(value, &header.family)) return fail("unknown boot-code family: " + std::string(value));
    } else if (option == "--title") {
      header.title = value;
    } else if (option == "--game-id") {
      header.game_id = value;
    } else if (option == "-o") {
      output = value;
    } else {
      return fail("unknown option: " + std::string(option));
    }
  }
  if (output == nullptr) {
    return fail("no output file (-o FILE)");
  }

  if (const std::string problem = cartdump::sim::test_rom_header_problem(header, static_cast<uint32_t>(size));
      !problem.empty()) {
    return fail(problem);
  }

  std::vector<uint8_t> image = cartdump::sim::make_test_rom(seed, static_cast<uint32_t>(size), header);
  cartdump::sim::convert_byte_order(image, order);
  std::FILE* file = std::fopen(output, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "testrom: cannot create %s: %s\n", output, std::strerror(errno));
    return 1;
  }
  const size_t written = std::fwrite(image.data(), 1, image.size(), file);
  if (std::fclose(file) != 0 || written != image.size()) {
    std::fprintf(stderr, "testrom: cannot write %s\n", output);
    return 1;
  }
  return 0;
}

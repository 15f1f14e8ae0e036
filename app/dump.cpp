#include "app/dump.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/console.h"
#include "carts/group_10.h"
#include "link/device_state.h"
#include "link/discovery.h"
#include "link/file_io.h"

namespace cartdump {

alignas(4096) uint8_t rom_image[kRomImageSize];

namespace {

constexpr uint32_t kMiB = 1024 * 1024;

// Reads length bytes from address into destination, asking again while a reply comes back short
// (a flaky cable, a device unplugged). On failure, names the address and the reason in red and
// returns false.
bool read_all(uint32_t address, uint8_t* destination, uint32_t length) {
  uint32_t delivered = 0;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    delivered = n64_read(address, destination, length);
    if (delivered == length) {
      return true;
    }
  }
  const char* reason = file_error_text();
  if (reason[0] != '\0') {
    print_error("Can not read the cartridge at device address 0x%08X: %s.\n", address, reason);
  } else {
    print_error("Can not read the cartridge at device address 0x%08X: the device answered %u of %u bytes.\n",
                address, delivered, length);
  }
  return false;
}

// Writes the image beside its final name and renames it into place only once every byte is written
// and flushed, so that a failed write never leaves a partial image nor damages an earlier one.
bool write_image(const char* output) {
  const std::string partial = std::string(output) + ".part";
  const int written = write_whole_file(partial.c_str(), rom_image, kRomImageSize);
  if (written != static_cast<int>(kRomImageSize)) {
    const std::string reason = file_error_text();
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    print_error("Can not write %s: %s.\n", output,
                reason.empty() ? "the file was not written in full" : reason.c_str());
    return false;
  }
  std::error_code error;
  std::filesystem::rename(partial, output, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    print_error("Can not write %s: %s.\n", output, error.message().c_str());
    return false;
  }
  print_notice("Write rom to file %s(%dbytes).", output, written);
  return true;
}

}  // namespace

bool is_n64_header(const uint8_t* image) { return rom_byte_order_of(image, 1) != RomByteOrder::unknown; }

std::string default_dump_name(uint32_t size, bool big_order) {
  return "Dump" + std::to_string(size / kMiB) + (big_order ? "M.z64" : "M.n64");
}

int dump_cartridge(const char* output, bool big_order, RomByteOrder* written_order) {
  if (!open_device()) {
    print_error("Open device error.\n");
    return 1;
  }
  std::array<char, kNameCapacity> name{};
  console_safe_text(device_state.device_name.data(), name.data(), static_cast<uint32_t>(name.size()));
  print_notice("Device: %s\n", name.data());

  n64_init();
  if (!read_all(kN64RomBase, rom_image, kHeaderLength)) {
    return 1;
  }
  print_plain("%.2X%.2X%.2X%.2X\n", rom_image[0], rom_image[1], rom_image[2], rom_image[3]);
  if (!is_n64_header(rom_image)) {
    print_error("Can not find n64 data header.\n");
    return 1;
  }

  print_notice("Start dump....\n");
  for (uint32_t offset = 0; offset < kRomImageSize; offset += kChunkLength) {
    if (!read_all(kN64RomBase + offset, rom_image + offset, kChunkLength)) {
      return 1;
    }
    print_plain("%d/%d\r", static_cast<int>(offset + kChunkLength), static_cast<int>(kRomImageSize));
  }
  print_plain("\n");

  RomByteOrder order = rom_byte_order_of(rom_image, kRomImageSize);
  if (big_order) {
    rom_convert_order(rom_image, kRomImageSize, order);
    order = RomByteOrder::big;
  }
  if (!write_image(output)) {
    return 1;
  }
  if (written_order != nullptr) *written_order = order;
  return 0;
}

void dump_n64_rom() {
  if (dump_cartridge(kOutputFile, false, nullptr) != 0) {
    wait_key_and_exit();
  }
  std::exit(0);
}

}  // namespace cartdump

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

// Reads length bytes from address into destination, asking again while a reply comes back short
// (a flaky cable, a device unplugged). On failure, names the address and the reason in red and
// takes the exit path.
void read_or_fail(uint32_t address, uint8_t* destination, uint32_t length) {
  uint32_t delivered = 0;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    delivered = n64_read(address, destination, length);
    if (delivered == length) {
      return;
    }
  }
  const char* reason = file_error_text();
  if (reason[0] != '\0') {
    print_error("Can not read the cartridge at device address 0x%08X: %s.\n", address, reason);
  } else {
    print_error("Can not read the cartridge at device address 0x%08X: the device answered %u of %u bytes.\n",
                address, delivered, length);
  }
  wait_key_and_exit();
}

// Writes the image beside its final name and renames it into place only once every byte is written
// and flushed, so that a failed write never leaves a partial "Dump16M.n64" nor damages an earlier one.
void write_image_or_fail() {
  const std::string partial = std::string(kOutputFile) + ".part";
  const int written = write_whole_file(partial.c_str(), rom_image, kRomImageSize);
  if (written != static_cast<int>(kRomImageSize)) {
    const std::string reason = file_error_text();
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    print_error("Can not write %s: %s.\n", kOutputFile,
                reason.empty() ? "the file was not written in full" : reason.c_str());
    wait_key_and_exit();
  }
  std::error_code error;
  std::filesystem::rename(partial, kOutputFile, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    print_error("Can not write %s: %s.\n", kOutputFile, error.message().c_str());
    wait_key_and_exit();
  }
  print_notice("Write rom to file %s(%dbytes).", kOutputFile, written);
}

}  // namespace

bool is_n64_header(const uint8_t* image) {
  switch (image[0]) {
    case 0x80:
    case 0x37:
    case 0x40:
    case 0x12:
      return true;
    default:
      return false;
  }
}

void dump_n64_rom() {
  if (!open_device()) {
    print_error("Open device error.\n");
    wait_key_and_exit();
  }
  std::array<char, kNameCapacity> name{};
  console_safe_text(device_state.device_name.data(), name.data(), static_cast<uint32_t>(name.size()));
  print_notice("Device: %s\n", name.data());

  n64_init();
  read_or_fail(kN64RomBase, rom_image, kHeaderLength);
  print_plain("%.2X%.2X%.2X%.2X\n", rom_image[0], rom_image[1], rom_image[2], rom_image[3]);
  if (!is_n64_header(rom_image)) {
    print_error("Can not find n64 data header.\n");
    wait_key_and_exit();
  }

  print_notice("Start dump....\n");
  for (uint32_t offset = 0; offset < kRomImageSize; offset += kChunkLength) {
    read_or_fail(kN64RomBase + offset, rom_image + offset, kChunkLength);
    print_plain("%d/%d\r", static_cast<int>(offset + kChunkLength), static_cast<int>(kRomImageSize));
  }
  print_plain("\n");

  write_image_or_fail();
  std::exit(0);
}

}  // namespace cartdump

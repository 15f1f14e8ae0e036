#include "app/dump.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/console.h"
#include "app/interrupt.h"
#include "app/output_file.h"
#include "app/reader_lock.h"
#include "carts/group_10.h"
#include "link/device_state.h"
#include "link/discovery.h"
#include "link/file_io.h"

namespace cartdump {
namespace {

constexpr uint32_t kMiB = 1024 * 1024;

// One chunk's room, aligned so that the reply is read straight into it.
alignas(4096) uint8_t chunk_buffer[kChunkLength];

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

// Names the output and the reason in red, and leaves no partial file behind.
void write_failed(OutputFile& file) {
  print_error("Can not write %s: %s.\n", file.path.c_str(), file.error.c_str());
  output_discard(file);
}

// Reads the image chunk by chunk into the output, showing progress after each chunk. Returns 0, 1
// after a failure it has named, or kDumpInterrupted; the partial file is gone unless 0.
int stream_image(const DumpRequest& request, RomByteOrder order, OutputFile& file, ImageScanner* scanner) {
  for (uint32_t offset = 0; offset < request.size; offset += kChunkLength) {
    if (interrupt_requested()) {
      output_discard(file);
      print_plain("\n");  // the progress line stays as it was
      return kDumpInterrupted;
    }
    if (!read_all(kN64RomBase + offset, chunk_buffer, kChunkLength)) {
      output_discard(file);
      return 1;
    }
    if (request.big_order) rom_convert_order(chunk_buffer, kChunkLength, order);
    if (!output_write(file, chunk_buffer, kChunkLength)) {
      write_failed(file);
      return 1;
    }
    if (scanner != nullptr) scanner->add(chunk_buffer, kChunkLength);
    print_plain("%d/%d\r", static_cast<int>(offset + kChunkLength), static_cast<int>(request.size));
  }
  print_plain("\n");
  return 0;
}

// Text of the host's (a mount point, a device path) made safe for the console, whatever its length.
std::string safe_text(const char* text) {
  std::string out(std::strlen(text) + 1, '\0');
  console_safe_text(text, out.data(), static_cast<uint32_t>(out.size()));
  out.pop_back();
  return out;
}

// Finds the reader, takes its lock before anything is sent to it, then asks it who it is. Returns
// 0, or 1 after a failure it has named.
int open_reader() {
  if (!locate_device()) {
    print_error("Open device error.\n");
    return 1;
  }
  const std::string reader = located_device_path();
  std::string error;
  switch (reader_lock_take(reader, error)) {
    case ReaderLock::taken:
      break;
    case ReaderLock::busy:
      print_error("The reader at %s is in use by another n64dump run.\n", safe_text(reader.c_str()).c_str());
      return 1;
    case ReaderLock::failed:
      print_error("Can not lock the reader at %s: %s.\n", safe_text(reader.c_str()).c_str(), error.c_str());
      return 1;
  }
  identify_device();
  return 0;
}

}  // namespace

bool is_n64_header(const uint8_t* image) { return rom_byte_order_of(image, 1) != RomByteOrder::unknown; }

std::string default_dump_name(uint32_t size, bool big_order) {
  return "Dump" + std::to_string(size / kMiB) + (big_order ? "M.z64" : "M.n64");
}

int dump_cartridge(const DumpRequest& request, DumpOutcome& outcome) {
  // From here an interruption is recorded, and the dump stops at the next look. Until the partial
  // file exists there is nothing to clean up: a look before each step.
  interrupt_install();
  if (const int status = open_reader(); status != 0) return status;
  if (interrupt_requested()) return kDumpInterrupted;
  std::array<char, kNameCapacity> name{};
  console_safe_text(device_state.device_name.data(), name.data(), static_cast<uint32_t>(name.size()));
  print_notice("Device: %s\n", name.data());

  n64_init();
  std::array<uint8_t, kHeaderLength> header{};
  if (!read_all(kN64RomBase, header.data(), kHeaderLength)) {
    return 1;
  }
  print_plain("%.2X%.2X%.2X%.2X\n", header[0], header[1], header[2], header[3]);
  if (!is_n64_header(header.data())) {
    print_error("Can not find n64 data header.\n");
    return 1;
  }
  const RomByteOrder delivered = rom_byte_order_of(header.data(), kHeaderLength);
  const RomByteOrder written = request.big_order ? RomByteOrder::big : delivered;
  if (interrupt_requested()) return kDumpInterrupted;

  print_notice("Start dump....\n");
  OutputFile file;
  const std::string output = request.output.empty() ? default_dump_name(request.size, request.big_order) : request.output;
  if (!output_create(file, output)) {
    write_failed(file);
    return 1;
  }
  std::unique_ptr<ImageScanner> scanner = request.scan ? std::make_unique<ImageScanner>(written) : nullptr;
  if (const int status = stream_image(request, delivered, file, scanner.get()); status != 0) return status;
  if (!output_commit(file)) {
    write_failed(file);
    return 1;
  }
  print_notice("Write rom to file %s(%dbytes).", output.c_str(), static_cast<int>(file.written));

  outcome.output = output;
  outcome.size = request.size;
  outcome.written_order = written;
  outcome.scanner = std::move(scanner);
  return 0;
}

void dump_n64_rom() {
  DumpOutcome outcome;
  const int status = dump_cartridge(DumpRequest{.output = kOutputFile}, outcome);
  if (status == kDumpInterrupted) {
    std::exit(interrupt_finish());
  }
  if (status != 0) {
    wait_key_and_exit();
  }
  std::exit(0);
}

}  // namespace cartdump

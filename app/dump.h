// The N64 dump: finds the device, checks the cartridge's header, reads the cartridge ROM in chunks
// with progress and streams it to a file ("Dump16M.n64" in the working directory when n64dump runs
// without arguments).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/image_report.h"
#include "rom/byte_order.h"

namespace cartdump {

inline constexpr uint32_t kRomImageSize = 0x1000000;  // 16 MiB, the run without arguments
inline constexpr uint32_t kHeaderLength = 1024;
inline constexpr uint32_t kChunkLength = 0x2000;
inline constexpr const char* kOutputFile = "Dump16M.n64";
// Asks for a request whose reply came back short, each time with a fresh command.
inline constexpr int kReadAttempts = 4;

// True when byte 0 marks one of the four byte orders of an N64 ROM header
// (80 37 12 40 big-endian, 37 80 40 12 byte-swapped, 40 12 37 80 little-endian, 12 40 80 37 word-swapped).
bool is_n64_header(const uint8_t* image);

// "Dump<N>M.n64" for an image of N MiB, or "Dump<N>M.z64" when it is written in big order.
std::string default_dump_name(uint32_t size, bool big_order);

// What a dump is asked to do.
struct DumpRequest {
  std::string output;      // where the image goes; empty for default_dump_name of its size
  bool big_order = false;  // write the image in big order, whatever order the cartridge delivers
  uint32_t size = kRomImageSize;
  bool scan = false;       // gather the image report's material as the image passes
};

// What a finished dump wrote.
struct DumpOutcome {
  std::string output;                     // the path written
  uint32_t size = 0;                      // bytes written
  RomByteOrder written_order = RomByteOrder::unknown;
  std::unique_ptr<ImageScanner> scanner;  // with DumpRequest::scan: the image as written
};

// The dump sequence with its transcript: the device's name, the header bytes, progress, and the
// image streamed to the output as the chunks arrive (into a partial file beside it, renamed into
// place once complete). Returns 0 after the image was written in full; 1 after a failure, whose
// reason it has printed in red; kDumpInterrupted when it stopped between two requests because the
// run was interrupted (app/interrupt.h). It leaves no partial file unless it returns 0, and an
// earlier output as it was. It asks for no key.
int dump_cartridge(const DumpRequest& request, DumpOutcome& outcome);

// The run without arguments; ends the process: status 0 after a complete image was written to
// "Dump16M.n64", 1 after any failure (which first asks for a key).
[[noreturn]] void dump_n64_rom();

}  // namespace cartdump

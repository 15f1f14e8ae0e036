// The N64 dump: finds the device, checks the cartridge's header, reads the cartridge ROM in chunks
// with progress and streams it to a file ("Dump16M.n64" in the working directory when n64dump runs
// without arguments).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// Reads of one chunk at most while verifying, the first two included.
inline constexpr int kVerifyReads = 8;

// What a dump is asked to do.
struct DumpRequest {
  std::string output;      // where the image goes; empty for default_dump_name of its size
  bool big_order = false;  // write the image in big order, whatever order the cartridge delivers
  uint32_t size = kRomImageSize;  // bytes, a multiple of 1 MiB; with auto_size the most to read
  bool auto_size = false;  // look for the cartridge's end (dump_rules.h) at each candidate size
  bool verify = false;     // read the cartridge twice, and again where the reads differ
  bool extended = false;   // an extended run: its progress line, and verification on the cached fallback
  bool scan = false;       // gather the image report's material as the image passes
};

// What a finished dump wrote.
struct DumpOutcome {
  std::string output;                     // the path written
  uint32_t size = 0;                      // bytes written
  RomByteOrder written_order = RomByteOrder::unknown;
  std::unique_ptr<ImageScanner> scanner;  // with DumpRequest::scan: the image as written
  std::string size_reason;                // how the size was decided (dump_rules.h)
  bool verified = false;                  // every chunk was read twice and compared
  uint32_t reread_chunks = 0;             // chunks whose reads differed, read again
  std::vector<uint32_t> unstable;         // device addresses of the chunks that never settled
};

// The dump sequence with its transcript: the device's name, the header bytes, progress, and the
// image streamed to the output as the chunks arrive (into a partial file beside it, renamed into
// place once complete).
//   - The device must answer the addresses asked: the first two chunks are checked against the
//     header and each other (answer_problem), asked for once more with fresh commands when they
//     fail, and then the dump stops.
//   - With auto_size, past each candidate size it reads a little on and stops where that shows a
//     mirror of the image's start or open bus, each seen in two places; never earlier.
//   - With verify (or, in an extended run, when the drive refuses unbuffered reads), the header is
//     read until two reads in a row agree, and after the first pass a second pass
//     reads every chunk again, in swapped pairs so that no chunk follows the same request as in
//     the first pass; a chunk whose two reads differ is read until two reads in a row agree, at
//     most kVerifyReads reads in all, and the agreed bytes are kept. A chunk that never settles
//     keeps its last read and is listed in unstable.
// Returns 0 after the image was written in full; 1 after a failure, whose reason it has printed in
// red; kDumpInterrupted when it stopped between two requests because the run was interrupted
// (app/interrupt.h). It leaves no partial file unless it returns 0, and an earlier output as it
// was. It asks for no key.
int dump_cartridge(const DumpRequest& request, DumpOutcome& outcome);

// The run without arguments; ends the process: status 0 after a complete image was written to
// "Dump16M.n64", 1 after any failure (which first asks for a key).
[[noreturn]] void dump_n64_rom();

}  // namespace cartdump

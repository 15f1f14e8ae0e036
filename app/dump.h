// The N64 dump: finds the device, checks the cartridge's header, reads 16 MiB of cartridge ROM
// with progress and writes it to a file ("Dump16M.n64" in the working directory when n64dump runs
// without arguments).
#pragma once

#include <cstdint>
#include <string>

#include "rom/byte_order.h"

namespace cartdump {

inline constexpr uint32_t kRomImageSize = 0x1000000;  // 16 MiB
inline constexpr uint32_t kHeaderLength = 1024;
inline constexpr uint32_t kChunkLength = 0x2000;
inline constexpr const char* kOutputFile = "Dump16M.n64";
// Asks for a request whose reply came back short, each time with a fresh command.
inline constexpr int kReadAttempts = 4;

// RomImage: image byte i holds the cartridge ROM byte at device address 0x1000000 + i, in the order
// the device delivers it (or in big order once a dump has converted it). Aligned so that every
// chunk is read straight into its place.
alignas(4096) extern uint8_t rom_image[kRomImageSize];

// True when byte 0 marks one of the four byte orders of an N64 ROM header
// (80 37 12 40 big-endian, 37 80 40 12 byte-swapped, 40 12 37 80 little-endian, 12 40 80 37 word-swapped).
bool is_n64_header(const uint8_t* image);

// "Dump<N>M.n64" for an image of N MiB, or "Dump<N>M.z64" when it is written in big order.
std::string default_dump_name(uint32_t size, bool big_order);

// The dump sequence with its transcript: the device's name, the header bytes, progress, and the
// image written to output (beside it as output + ".part" first, renamed into place once complete),
// in the order the cartridge delivered it, or in big order when big_order is set. Returns 0 after
// the image was written in full, with the order it was written in; 1 after a failure, whose
// reason it has printed in red. It asks for no key.
int dump_cartridge(const char* output, bool big_order, RomByteOrder* written_order);

// The run without arguments; ends the process: status 0 after a complete image was written to
// "Dump16M.n64", 1 after any failure (which first asks for a key).
[[noreturn]] void dump_n64_rom();

}  // namespace cartdump

// The N64 dump: finds the device, checks the cartridge's header, reads 16 MiB of cartridge ROM
// with progress and writes it to "Dump16M.n64" in the working directory.
#pragma once

#include <cstdint>

namespace cartdump {

inline constexpr uint32_t kRomImageSize = 0x1000000;  // 16 MiB
inline constexpr uint32_t kHeaderLength = 1024;
inline constexpr uint32_t kChunkLength = 0x2000;
inline constexpr const char* kOutputFile = "Dump16M.n64";
// Asks for a request whose reply came back short, each time with a fresh command.
inline constexpr int kReadAttempts = 4;

// RomImage: image byte i holds the cartridge ROM byte at device address 0x1000000 + i, in the order
// the device delivers it. Aligned so that every chunk is read straight into its place.
alignas(4096) extern uint8_t rom_image[kRomImageSize];

// True when byte 0 marks one of the four byte orders of an N64 ROM header
// (80 37 12 40 big-endian, 37 80 40 12 byte-swapped, 40 12 37 80 little-endian, 12 40 80 37 word-swapped).
bool is_n64_header(const uint8_t* image);

// The whole run; ends the process: status 0 after a complete image was written, 1 after any
// failure (which first asks for a key).
[[noreturn]] void dump_n64_rom();

}  // namespace cartdump

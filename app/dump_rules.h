// What the dump decides from the device's replies alone, without further commands: whether the
// device answers the addresses asked, and where the cartridge's data ends. Pure functions over
// reply bytes, so that they can be tested and fuzzed apart from the device.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace cartdump {

inline constexpr uint32_t kRomWindow = 64 * 1024 * 1024;  // the ROM window from device address 0x1000000

// The sizes a cartridge comes in, which --size auto tries in turn: 4, 8, 12, 16, 20, 24, 32, 40, 48
// and 64 MiB, the last the whole window.
std::span<const uint32_t> size_candidates();

// How a dump's size was decided.
enum class SizeRule : uint8_t {
  asked,     // --size N, or the 16 MiB of the run without arguments
  mirror,    // what follows the size repeats the start of the image
  open_bus,  // what follows the size is the console's open bus
  limit,     // neither was seen before the end of the window
};

// "mirror from 32 MiB", "open bus from 12 MiB", "up to the 64 MiB limit", "asked for 16 MiB".
std::string size_reason(SizeRule rule, uint32_t size);

// Whether length bytes read from device address on are the console's open bus: each big-endian
// 16-bit halfword at address A reads as A & 0xFFFF. address and length are even.
bool is_open_bus(const uint8_t* bytes, uint32_t length, uint32_t address);

// The answer checks on the dump's first replies: the first chunk's first header_length bytes must
// be the header read from the same address just before, and the second chunk must differ from the
// first (a cartridge's first 8 KiB hold its header and boot code, which do not recur at 0x2000).
// Returns "" when both hold, otherwise what was seen, for "The device does not answer the
// addresses asked: ...". first and second are chunk_length bytes, read from address and from
// address + chunk_length.
std::string answer_problem(const uint8_t* header, uint32_t header_length, const uint8_t* first,
                           const uint8_t* second, uint32_t chunk_length, uint32_t address);

}  // namespace cartdump

// Command sectors: the 512-byte unit in which every cartridge operation reaches the device,
// closed by a CRC-16 over its first 510 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace cartdump {

inline constexpr uint32_t kSectorSize = 512;
inline constexpr uint8_t kSectorMarker = 0x5A;  // byte 0 of every sector, the letter Z
inline constexpr uint32_t kSectorCrcOffset = 510;

// One command sector: byte 0 marker, byte 1 group, byte 2 command, bytes 3-509 fields and
// payload (little-endian unless a command says otherwise), bytes 510-511 the CRC-16, high byte first.
using CommandSector = std::array<uint8_t, kSectorSize>;

// A SectorBatch is n consecutive CommandSectors in one buffer of n * 512 bytes, handed to the link
// whole. Batches are plain byte buffers with a length, so that C-style callers can build them.

// CRC-16/XMODEM (polynomial 0x1021, initial value 0, no reflection) of the first
// block_length - 2 bytes of block; the last two bytes are the checksum's own place.
uint16_t crc16_xmodem(const uint8_t* block, uint32_t block_length);

// Stamps the marker into byte 0 and the CRC-16 into bytes 510-511 of every 512-byte sector of
// the batch. length is a multiple of 512; nothing else in the batch is touched.
void frame_sectors(uint8_t* batch, uint32_t length);

}  // namespace cartdump

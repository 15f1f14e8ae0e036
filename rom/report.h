// What is known about an image, built from what a reader keeps as the image passes: its size, the
// byte order it came in, its hashes (of the big-order image), the start of it (big order, up to
// kRomStartLength bytes) and, when there is one, a catalogue.
#pragma once

#include <cstdint>

#include "rom/byte_order.h"
#include "rom/catalogue.h"
#include "rom/checksum.h"
#include "rom/hashes.h"
#include "rom/header.h"

namespace cartdump {

struct RomReport {
  uint64_t size;
  RomByteOrder order;
  uint8_t has_header;  // the image holds the whole header; header is all zero otherwise
  RomHeader header;
  RomCheck check;
  RomHashes hashes;
  uint8_t has_catalogue;  // a catalogue was given
  RomCatalogueMatch catalogue;
  uint8_t suspect;  // the checksum differs, or the catalogue lists the MD5 as a bad dump or an overdump
};

// Builds the report. catalogue may be null. start holds start_length bytes of the big-order image
// (the whole image when it is shorter than kRomStartLength). Returns report->suspect.
int rom_report_build(uint64_t size, RomByteOrder order, const RomHashes* hashes, const uint8_t* start,
                     uint32_t start_length, const RomCatalogue* catalogue, RomReport* report);

}  // namespace cartdump

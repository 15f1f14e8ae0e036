#include "rom/report.h"

namespace cartdump {

int rom_report_build(uint64_t size, RomByteOrder order, const RomHashes* hashes, const uint8_t* start,
                     uint32_t start_length, const RomCatalogue* catalogue, RomReport* report) {
  *report = RomReport{};
  report->size = size;
  report->order = order;
  report->hashes = *hashes;
  report->has_header = static_cast<uint8_t>(rom_read_header(start, start_length, &report->header));
  rom_check(start, start_length, rom_cic_of(start, start_length), &report->check);

  report->catalogue = RomCatalogueMatch{RomMatchKind::none, RomStatus::listed, -1};
  if (catalogue != nullptr) {
    report->has_catalogue = 1;
    const uint32_t crc_pair[2] = {report->header.crc1, report->header.crc2};
    rom_catalogue_lookup(catalogue, hashes->md5.data(), report->has_header ? crc_pair : nullptr, &report->catalogue);
  }
  const bool listed_bad = report->catalogue.by == RomMatchKind::md5 &&
                          (report->catalogue.status == RomStatus::bad || report->catalogue.status == RomStatus::overdump);
  report->suspect = static_cast<uint8_t>(report->check.state == RomCheckState::differs || listed_bad);
  return report->suspect;
}

}  // namespace cartdump

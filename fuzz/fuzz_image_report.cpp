// The image report over any bytes (a damaged dump, any file handed to --info) and any catalogue
// names for it, through the tool's own scanner, JSON and human report:
//   - the JSON is produced without an exception (nlohmann rejects invalid UTF-8) and reads back
//     with the report's size and hashes;
//   - the human report is valid UTF-8 without control characters;
//   - the hashes are those of the big-order image taken at once;
//   - pieces of any length, and the image in each of the four orders, give the same report;
//   - the image is suspect exactly when the checksum differs or the catalogue lists its MD5 as a
//     bad dump or an overdump.
// Input: a flags byte, a name length and that many bytes of the catalogue's name for the image,
// then the image's start. Flag bits 0 to 2 all set pad the image with a fixed pattern to 0x101000
// bytes (to 0x3FF000 with bit 3 too), so that the checksum runs; bits 4-5 choose an order; bits
// 6-7 the length of the pieces. A padded image is scanned whole, and in the order chosen only when
// bit 6 is set: every byte of a megabyte costs much under the fuzzer's instrumentation, so padding
// is left to one input in eight.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "app/image_report.h"
#include "fuzz/support/fuzz_check.h"
#include "rom/report.h"

namespace {

using cartdump::RomByteOrder;
using cartdump::RomReport;

std::string hex(const uint8_t* bytes, uint32_t count) {
  std::string text(2 * count + 1, '\0');
  cartdump::rom_hex(bytes, count, text.data());
  text.pop_back();
  return text;
}

RomReport scan(const std::vector<uint8_t>& image, RomByteOrder order, size_t piece, const cartdump::RomCatalogue* catalogue) {
  cartdump::ImageScanner scanner(order);
  for (size_t at = 0; at < image.size(); at += piece) scanner.add(image.data() + at, std::min(piece, image.size() - at));
  RomReport report{};
  scanner.finish(catalogue, report);
  return report;
}

bool same(const RomReport& a, const RomReport& b) {
  return a.size == b.size && a.hashes.crc32 == b.hashes.crc32 && a.hashes.md5 == b.hashes.md5 &&
         a.hashes.sha1 == b.hashes.sha1 && a.hashes.sha256 == b.hashes.sha256 && a.check.state == b.check.state &&
         a.check.matched == b.check.matched && a.check.crc1_computed == b.check.crc1_computed &&
         a.check.crc2_computed == b.check.crc2_computed && a.has_header == b.has_header &&
         std::string(a.header.title, a.header.title_length) == std::string(b.header.title, b.header.title_length) &&
         a.catalogue.by == b.catalogue.by && a.catalogue.entry == b.catalogue.entry && a.suspect == b.suspect;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const size_t name_length = std::min<size_t>(data[1], size - 2);
  const std::string name(reinterpret_cast<const char*>(data + 2), name_length);
  std::vector<uint8_t> big(data + 2 + name_length, data + size);
  const bool padded = (flags & 0x07) == 0x07;
  if (padded) {
    const size_t length = (flags & 0x08) ? cartdump::kRomStartLength : 0x101000;
    for (size_t i = big.size(); i < length; ++i) big.push_back(static_cast<uint8_t>(i * 0x9E + (i >> 9)));
  }
  const auto order = static_cast<RomByteOrder>((flags >> 4) & 0x03);
  constexpr size_t kPieces[] = {1, 3, 977, 4099};
  const size_t piece = padded ? big.size() : kPieces[flags >> 6];

  cartdump::RomHashes hashes{};
  cartdump::rom_hashes_of(big.data(), static_cast<uint32_t>(big.size()), &hashes);


  // A catalogue that lists the image's MD5 under the name, and its header's CRC pair too.
  cartdump::CatalogueSource catalogue;
  catalogue.path = name;
  catalogue.loaded = true;
  const std::string text = "[" + hex(hashes.md5.data(), cartdump::kMd5Size) + "]\nGoodName=" + name +
                           "\nSaveType=" + name + "\n[00000000000000000000000000000000]\nGoodName=" + name +
                           "\nCRC=0 0\n";
  cartdump::rom_catalogue_parse(text.data(), static_cast<uint32_t>(text.size()), &catalogue.catalogue);

  // Scanned in big order, and in the order chosen (each whole word rearranged).
  const RomReport report = scan(big, RomByteOrder::big, big.size() + 1, &catalogue.catalogue);
  FUZZ_CHECK(report.hashes.md5 == hashes.md5 && report.hashes.sha256 == hashes.sha256 &&
                 report.hashes.crc32 == hashes.crc32,
             "the hashes differ from those of the image at once");
  if (!padded || (flags & 0x40)) {
    std::vector<uint8_t> ordered = big;
    cartdump::rom_convert_order(ordered.data(), static_cast<uint32_t>(ordered.size()), order);
    RomReport in_order = scan(ordered, order, piece, &catalogue.catalogue);
    FUZZ_CHECK(in_order.order == order, "the order is not kept");
    in_order.order = RomByteOrder::big;
    FUZZ_CHECK(same(in_order, report), "the %s image in pieces of %zu gives another report",
               cartdump::rom_byte_order_name(order), piece);
  }

  const bool listed_bad = report.catalogue.by == cartdump::RomMatchKind::md5 &&
                          (report.catalogue.status == cartdump::RomStatus::bad ||
                           report.catalogue.status == cartdump::RomStatus::overdump);
  FUZZ_CHECK(report.suspect == (report.check.state == cartdump::RomCheckState::differs || listed_bad),
             "suspect %d", report.suspect);

  const cartdump::DumpFacts dump{.output = name, .size_reason = "open bus from 4 MiB"};
  for (const cartdump::DumpFacts* facts : {static_cast<const cartdump::DumpFacts*>(nullptr), &dump}) {
    std::string json_text;
    try {
      json_text = cartdump::report_json(report, catalogue, facts);
      const nlohmann::json json = nlohmann::json::parse(json_text);
      FUZZ_CHECK(json["size"] == report.size && json["md5"] == hex(hashes.md5.data(), cartdump::kMd5Size),
                 "the JSON does not read back");
    } catch (const std::exception& error) {
      FUZZ_CHECK(false, "the JSON failed: %s", error.what());
    }
  }
  for (const cartdump::ReportLine& line : cartdump::report_lines(report, catalogue)) {
    FUZZ_CHECK(cartdump::valid_utf8(line.text) == line.text, "%s: invalid UTF-8", line.label.c_str());
    for (const char c : line.text) {
      const auto byte = static_cast<uint8_t>(c);
      FUZZ_CHECK(byte >= 0x20 && byte != 0x7F, "%s: control character 0x%02X", line.label.c_str(), byte);
    }
    // U+0080 to U+009F are C2 80 to C2 9F; C2 is never the second byte of a character.
    for (size_t at = line.text.find('\xC2'); at != std::string::npos; at = line.text.find('\xC2', at + 1)) {
      FUZZ_CHECK(at + 1 < line.text.size() && static_cast<uint8_t>(line.text[at + 1]) >= 0xA0, "%s: a C1 control",
                 line.label.c_str());
    }
  }
  return 0;
}

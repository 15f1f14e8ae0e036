// The report on an image as n64dump shows it: gathered as the image passes (ImageScanner), then
// given as a short aligned block of text or as one JSON object.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/console.h"
#include "rom/report.h"

namespace cartdump {

// Gathers what the report needs from an image handed over in pieces of any length, in the byte
// order it comes in: its size, the hashes of it in big order, and its start in big order (up to
// kRomStartLength bytes). Only whole 32-bit words are rearranged; the size % 4 bytes after the
// last one are taken as they are.
class ImageScanner {
 public:
  explicit ImageScanner(RomByteOrder order);
  ImageScanner(const ImageScanner&) = delete;
  ImageScanner& operator=(const ImageScanner&) = delete;
  ~ImageScanner();

  void add(const uint8_t* data, size_t length);
  // Ends the hashes and builds the report; catalogue may be null. Call once.
  void finish(const RomCatalogue* catalogue, RomReport& report);

 private:
  void take_big(const uint8_t* data, uint32_t length);

  RomByteOrder order_;
  RomHashState hashes_{};
  bool hashing_ = false;
  uint64_t size_ = 0;
  std::array<uint8_t, 4> pending_{};  // the start of a word not yet whole
  uint32_t pending_length_ = 0;
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> start_;
};

// The catalogue of a run: where it was looked for, and what came of it.
struct CatalogueSource {
  std::string path;     // empty when no place was known
  bool loaded = false;  // catalogue holds it
  std::string problem;  // why it was not loaded
  RomCatalogue catalogue;
};

// Loads the catalogue at path. Returns false when it cannot be read (problem says why; a missing
// file and an unreadable one alike).
bool load_catalogue(const std::string& path, CatalogueSource& source);

// Text for the terminal: invalid UTF-8 as U+FFFD, and control characters (C0, DEL and C1) as '?'.
std::string terminal_text(std::string_view text);
// Text made valid UTF-8: every byte that begins no valid sequence becomes U+FFFD.
std::string valid_utf8(std::string_view text);

// What a dump adds to the report on the image it wrote.
struct DumpFacts {
  std::string output;              // the path written
  std::string size_reason;         // how the size was decided: "mirror from 32 MiB", ...
  bool verified = false;           // every chunk was read twice and compared
  uint32_t reread_chunks = 0;      // chunks whose reads differed, read again
  std::vector<uint32_t> unstable;  // device addresses of the chunks that never settled
};

struct ReportLine {
  std::string label;
  std::string text;
  ConsoleColor color;  // error for a failed check, notice for a verified match
};

// The human report: title, game id and region, version, boot code, checksum, size and byte order,
// the four hashes, the catalogue line; after a dump (dump not null) how its size was decided and
// what its verification found.
std::vector<ReportLine> report_lines(const RomReport& report, const CatalogueSource& catalogue,
                                     const DumpFacts* dump = nullptr);
// Prints the lines on the console, the labels aligned.
void print_report(const std::vector<ReportLine>& lines);

// The report as one JSON object (pretty-printed, without a final line break); dump is what a dump
// adds (the keys output, size_reason, verified, reread_chunks and unstable), null for a report on a
// file.
std::string report_json(const RomReport& report, const CatalogueSource& catalogue, const DumpFacts* dump);

}  // namespace cartdump

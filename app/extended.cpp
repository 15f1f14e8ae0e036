#include "app/extended.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/devices.h"
#include "app/dump.h"
#include "app/dump_rules.h"
#include "app/image_report.h"
#include "app/interrupt.h"
#include "app/options.h"
#include "app/paths.h"
#include "link/hid_link.h"

namespace cartdump {
namespace {

constexpr size_t kReadPiece = 1024 * 1024;

// The catalogue that --catalogue names, or the default one when it is there. Only a catalogue that
// was named and cannot be read stops the run.
bool find_catalogue(const Options& options, CatalogueSource& catalogue) {
  if (options.catalogue_given) {
    if (!load_catalogue(options.catalogue, catalogue)) {
      print_error("Can not read %s: %s.\n", options.catalogue.c_str(), catalogue.problem.c_str());
      return false;
    }
    return true;
  }
  const std::string path = default_catalogue_path();
  if (path.empty()) {
    catalogue.problem = "no place for the default catalogue";
    return true;
  }
  load_catalogue(path, catalogue);
  return true;
}

// Gives the report: the JSON object on standard output, or the human report on the console. The
// image is suspect when the report says so, or when a chunk of a dump never settled.
int give_report(const Options& options, ImageScanner& scanner, const CatalogueSource& catalogue,
                const DumpFacts* dump) {
  RomReport report{};
  scanner.finish(catalogue.loaded ? &catalogue.catalogue : nullptr, report);
  if (options.json) {
    const std::string text = report_json(report, catalogue, dump) + "\n";
    console_write_data(text.data(), static_cast<uint32_t>(text.size()));
  } else {
    print_report(report_lines(report, catalogue, dump));
  }
  const bool unsettled = dump != nullptr && !dump->unstable.empty();
  return report.suspect || unsettled ? kExitSuspect : kExitSuccess;
}

// Reads an image file in pieces, whatever its size, and reports on it.
int run_info(const Options& options, const CatalogueSource& catalogue) {
  const char* path = options.info_file.c_str();
  const auto close = [](std::FILE* f) { std::fclose(f); };
  const std::unique_ptr<std::FILE, decltype(close)> file(std::fopen(path, "rb"), close);
  if (!file) {
    print_error("Can not read %s: %s.\n", path, std::strerror(errno));
    return kExitFailure;
  }
  std::vector<uint8_t> piece(kReadPiece);
  std::unique_ptr<ImageScanner> scanner;
  for (;;) {
    const size_t n = std::fread(piece.data(), 1, piece.size(), file.get());
    if (std::ferror(file.get())) {
      print_error("Can not read %s: %s.\n", path, std::strerror(errno));
      return kExitFailure;
    }
    // The first byte tells the order of the whole image.
    if (!scanner) scanner = std::make_unique<ImageScanner>(rom_byte_order_of(piece.data(), static_cast<uint32_t>(n)));
    scanner->add(piece.data(), n);
    if (n < piece.size()) break;
  }
  return give_report(options, *scanner, catalogue, nullptr);
}

// Dumps the cartridge as the run without arguments does, to the file asked for, in the order and
// the size asked for (by default as much as the cartridge holds), then reports on the image as
// written.
int run_dump(const Options& options, const CatalogueSource& catalogue) {
  const DumpRequest request{.output = options.output,
                            .big_order = options.z64,
                            .size = options.size_mib == 0 ? kRomWindow : options.size_mib * 1024 * 1024,
                            .auto_size = options.size_mib == 0,
                            .verify = options.verify,
                            .extended = true,
                            .scan = true};
  DumpOutcome outcome;
  if (const int status = dump_cartridge(request, outcome); status != 0) {
    return status == kDumpInterrupted ? interrupt_finish() : kExitFailure;
  }
  // The notice of the write ends without a line break.
  print_plain("\n");
  const DumpFacts facts{.output = outcome.output,
                        .size_reason = outcome.size_reason,
                        .verified = outcome.verified,
                        .reread_chunks = outcome.reread_chunks,
                        .unstable = outcome.unstable};
  return give_report(options, *outcome.scanner, catalogue, &facts);
}

}  // namespace

int run_extended(int argc, const char* const* argv) {
  Options options;
  if (const int status = parse_options(argc, argv, options); status != kOptionsRun) {
    return status;
  }
  // With --json, standard output carries the JSON object alone.
  if (options.json) {
    console_stream = ConsoleStream::error;
    hid_set_error_stream(1);
  }
  try {
    if (options.devices) return run_devices(options.json);
    CatalogueSource catalogue;
    if (!find_catalogue(options, catalogue)) return kExitFailure;
    return options.info ? run_info(options, catalogue) : run_dump(options, catalogue);
  } catch (const std::exception& error) {
    print_error("n64dump: %s\n", error.what());
    return kExitFailure;
  }
}

}  // namespace cartdump

#include "app/options.h"

#include <CLI/CLI.hpp>

#include <cstdio>

#include "cartdump_version.h"

namespace cartdump {
namespace {

constexpr const char* kDescription =
    "Dumps the N64 cartridge in the reader to a file, or reports on an image file, and tells what the\n"
    "image is: its header, its boot-code checksum, its hashes and what the cartridge catalogue knows\n"
    "of it. Without arguments it dumps 16 MiB to Dump16M.n64 as it always has.\n"
    "Exit status: 0 success, 1 failure, 2 usage error, 3 the image is suspect.\n";

constexpr uint32_t kMostMiB = 64;

// --size: "auto", or a whole number of MiB from 1 to 64 (0 stands for auto). "" or what is wrong.
std::string read_size(const std::string& text, uint32_t& size_mib) {
  if (text == "auto") {
    size_mib = 0;
    return "";
  }
  const bool digits = !text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos;
  const unsigned long n = digits ? std::stoul(text) : 0;
  if (n < 1 || n > kMostMiB) return "--size takes auto or a whole number of MiB from 1 to 64: " + text;
  size_mib = static_cast<uint32_t>(n);
  return "";
}

void print_text(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

const char* version_text() { return "n64dump " CARTDUMP_VERSION_TEXT; }

int parse_options(int argc, const char* const* argv, Options& options) {
  CLI::App app(kDescription, "n64dump");
  app.set_version_flag("--version", version_text(), "Print the version and exit");
  CLI::Option* info = app.add_option("--info", options.info_file, "Report on an existing image file (any byte order, any size); no device")
                          ->type_name("FILE");
  app.add_option("-o,--output", options.output, "Where the dump is written (default Dump<N>M.n64, .z64 with --z64)")
      ->type_name("FILE")
      ->excludes(info);
  app.add_flag("--z64", options.z64, "Write the image in big-endian order, whatever order the cartridge delivers")
      ->excludes(info);
  std::string size = "auto";
  app.add_option("--size", size,
                 "MiB to dump, 1 to 64, or auto: read on past each size a cartridge comes in until what follows "
                 "mirrors the image or is open bus (the default)")
      ->type_name("N|auto")
      ->check([&](const std::string& text) { return read_size(text, options.size_mib); })
      ->excludes(info);
  app.add_flag("--verify", options.verify,
               "Read the cartridge twice and compare; read a chunk whose reads differ until two agree")
      ->excludes(info);
  app.add_flag("--json", options.json, "The report as one JSON object on stdout; all other text to stderr");
  CLI::Option* catalogue =
      app.add_option("--catalogue", options.catalogue, "The cartridge catalogue (mupen64plus ini) to look the image up in")
          ->type_name("FILE");
  app.add_flag("--devices", options.devices,
               "Show what discovery sees: the reader's HID interfaces, every volume walked, the one a dump would "
               "use; no dump (exit 1 when no reader is found)")
      ->excludes(info)
      ->excludes(catalogue)
      ->excludes("--output")
      ->excludes("--z64")
      ->excludes("--size")
      ->excludes("--verify");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    print_text(stdout, app.help());
    return 0;
  } catch (const CLI::CallForVersion&) {
    print_text(stdout, std::string(version_text()) + "\n");
    return 0;
  } catch (const CLI::ParseError& error) {
    print_text(stderr, std::string("n64dump: ") + error.what() + "\n" + app.help());
    return 2;
  }
  options.info = info->count() > 0;
  options.catalogue_given = catalogue->count() > 0;
  return kOptionsRun;
}

}  // namespace cartdump

// n64dump's options. Any argument makes an extended run; these are its options.
#pragma once

#include <string>

namespace cartdump {

struct Options {
  bool info = false;  // --info FILE: report on an image file, no device
  std::string info_file;
  std::string output;  // -o, --output FILE: where a dump is written; empty for the default name
  bool z64 = false;    // --z64: write the image in big order
  uint32_t size_mib = 0;  // --size N: MiB to dump, 1 to 64; 0 for --size auto, the default
  bool verify = false;    // --verify: read the cartridge twice and compare
  bool json = false;   // --json: the report as one JSON object on stdout, human text on stderr
  bool catalogue_given = false;
  std::string catalogue;  // --catalogue FILE
  bool devices = false;   // --devices: what discovery sees, no dump
};

// parse_options returns this when the run goes on with the options it filled.
inline constexpr int kOptionsRun = -1;

// Parses an extended run's arguments (argv[0] is the program). Returns kOptionsRun with options
// filled; 0 after printing the help or the version on stdout; 2 after a usage error (an unknown
// option, a missing or bad value, options that exclude each other), whose message and the usage
// it has printed on stderr.
int parse_options(int argc, const char* const* argv, Options& options);

// "n64dump" and the version: the project's, and git describe when built from a git tree.
const char* version_text();

}  // namespace cartdump

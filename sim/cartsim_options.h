// cartsim's command line: what the drive (cartsim_drive.h) and the mount (cartsim.cpp) are given.
//
// The options are one table in cartsim_options.cpp, each row its name, its value's name in the
// --help text, its help lines and how it sets its field; the parser and the --help text both walk
// that table. A new option is a field here and a row there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/device.h"

namespace cartdump::sim {

struct CartsimOptions {
  std::string mount_point;
  std::string rom_path;
  std::string ready_file;       // created once the mount answers
  std::string log_path;         // one line per sector taken
  DeviceConfig device;          // identity; the ROM is loaded from rom_path
  uint64_t latency_us = 0;      // added to every command sector
  uint64_t bytes_per_sec = 0;   // throughput of the link for every byte moved; 0 is unlimited
  std::optional<uint64_t> fail_after;  // the device is gone once it has taken this many sectors
  uint64_t flaky_every = 0;     // every Nth read of the reply file comes back short; 0 never
  std::optional<uint64_t> shrink_reply_after;  // once this many sectors are taken, the reply file
  uint64_t shrink_reply_to = 0;                // is only this long
  std::optional<uint64_t> refuse_writes_after;  // once this many commands are accepted, CMD.CMD
                                                // can be neither created, truncated nor written
  std::optional<uint64_t> eintr_after;  // once this many sectors are taken, reply reads fail with EINTR
  bool direct_io = false;       // reply and dump reads always reach cartsim (no page cache)
  bool refuse_direct_io = false;  // unbuffered opens of the reply and dump files fail with EINVAL
  bool help = false;
};

// Reads the command line (argv[0] is the program). Returns "" when it is good, otherwise what is
// wrong with it. --help sets help and stops.
std::string parse_cartsim_options(int argc, const char* const* argv, CartsimOptions& options);

// The --help text, listing every option.
const char* cartsim_usage();

}  // namespace cartdump::sim

// The fixture of n64dump's end-to-end tests: the built tool run as a user runs it, in a working
// directory of its own, finding cartsim's drive through the Linux volume walk.
//
// N64Dump gives each test a scratch directory below the build tree ("n64dump_e2e/<test>"), with
// the working directory work(), a runtime directory of its own for the reader's lock (the runs'
// XDG_RUNTIME_DIR), an empty catalogue, and a 16 MiB cartridge (testrom seed 7) in rom.
//   plug_in(options)                cartsim with options, shown to the host as a removable volume
//                                   after a fixed one;
//   plug_in(options, before)        the same, with the volumes before it (directories made to play
//                                   removable volumes, memory sticks, say) listed first;
//   no_device()                     a host with fixed volumes only, and no HID device;
//   dump(input), dump_in_terminal   n64dump without arguments in work(), its key prompt answered by
//                                   input; env() is the environment the runs get;
//   n64dump(args)                   n64dump with args in work(), standard input at its end; an
//                                   extended run is given the empty catalogue unless args name one;
//   partial_files()                 the "*.part" files in work().
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/cartsim_mount.h"
#include "tests/support/host_volumes.h"
#include "tests/support/tool_run.h"

namespace cartdump::test {

inline constexpr uint32_t kImageSize = 16 * 1024 * 1024;
inline constexpr const char* kDeviceName = "CARTSIM N64 READER";
inline constexpr const char* kPrompt = "Please press any key to exit...\n";

std::vector<uint8_t> read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// The header line of a run: the cartridge's first four bytes in hexadecimal.
std::string hex_line(const std::vector<uint8_t>& rom);

// Everything a good run prints when standard output is not a terminal.
std::string good_transcript(const std::vector<uint8_t>& rom);

// The JSON object that is the whole of a run's stdout; null (and a test failure) when it is not one.
nlohmann::json json_of(const ToolRun& run);

class N64Dump : public CartsimTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path work() const { return scratch_ / "work"; }
  std::filesystem::path image() const { return work() / "Dump16M.n64"; }
  std::filesystem::path scratch() const { return scratch_; }
  std::filesystem::path empty_catalogue() const { return scratch_ / "empty.ini"; }
  // The names of the partial files ("*.part") in work(), where a run must leave none of its own.
  std::vector<std::string> partial_files() const;

  void plug_in(const std::vector<std::string>& options = {}, const std::vector<std::string>& before = {});
  void no_device();

  ToolRun dump(const std::string& input = "");
  ToolRun dump_in_terminal(const std::string& input = "\n");
  ToolRun n64dump(std::vector<std::string> args);
  const Environment& env() const { return env_; }

  Environment env_;
  std::filesystem::path scratch_;
};

}  // namespace cartdump::test

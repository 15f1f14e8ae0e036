// The fixture of n64dump's end-to-end tests against cartsim: a scratch directory for the test below
// the working directory ("n64dump_dump_e2e/<suite>.<test>") with the tool's working directory in
// it, cartsim with the fixture's rom shown to the Linux volume walk as a removable volume behind a
// fixed one (other volumes may come before it), and n64dump run there as a user runs it.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/cartsim_mount.h"
#include "tests/support/host_volumes.h"
#include "tests/support/tool_run.h"

namespace cartdump::test {

std::vector<uint8_t> read_whole_file(const std::filesystem::path& path);
void write_whole_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// The JSON object that is the whole of a run's stdout; null (and a test failure) when it is not one.
nlohmann::json json_of(const ToolRun& run);

class N64DumpTest : public CartsimTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path work() const { return dir_ / "work"; }

  // Mounts cartsim with rom and options; the host's volumes are "/" (fixed), then the removable
  // ones of before, then cartsim's.
  void plug_in(const std::vector<std::string>& options = {}, const std::vector<std::string>& before = {});
  // n64dump with args (none: the run without arguments; any: an extended run, which is given an
  // empty catalogue) in work(), standard input at its end.
  ToolRun n64dump(std::vector<std::string> args);

  std::filesystem::path dir_;
  Environment env_;
};

}  // namespace cartdump::test

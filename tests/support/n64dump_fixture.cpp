#include "tests/support/n64dump_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "sim/test_rom.h"

namespace cartdump::test {

namespace fs = std::filesystem;

std::vector<uint8_t> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

nlohmann::json json_of(const ToolRun& run) {
  try {
    return nlohmann::json::parse(run.out);
  } catch (const std::exception& error) {
    ADD_FAILURE() << "stdout is not one JSON object (" << error.what() << "): " << run.out.substr(0, 300)
                  << "\nstderr: " << run.err.substr(0, 600);
    return nullptr;
  }
}

std::string hex_line(const std::vector<uint8_t>& rom) {
  char line[16];
  std::snprintf(line, sizeof line, "%02X%02X%02X%02X\n", rom[0], rom[1], rom[2], rom[3]);
  return line;
}

std::string good_transcript(const std::vector<uint8_t>& rom) {
  std::string text = std::string("Device: ") + kDeviceName + "\n" + hex_line(rom) + "Start dump....\n";
  for (uint32_t done = 8192; done <= kImageSize; done += 8192) {
    text += std::to_string(done) + "/16777216\r";
  }
  return text + "\nWrite rom to file Dump16M.n64(16777216bytes).";
}

void N64Dump::SetUp() {
  CartsimTest::SetUp();
  if (IsSkipped()) return;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) c = (c == '/') ? '_' : c;
  scratch_ = fs::current_path() / "n64dump_e2e" / name;
  fs::remove_all(scratch_);
  fs::create_directories(work());
  fs::create_directories(scratch_ / "run");
  std::ofstream(empty_catalogue()) << "; no cartridges\n";
  rom = sim::make_test_rom(7, kImageSize);
}

void N64Dump::TearDown() {
  CartsimTest::TearDown();
  if (!scratch_.empty()) fs::remove_all(scratch_);
}

void N64Dump::plug_in(const std::vector<std::string>& options, const std::vector<std::string>& before) {
  ASSERT_NO_FATAL_FAILURE(mount(options));
  std::vector<HostVolume> volumes{{"/", false}};
  for (const std::string& volume : before) volumes.push_back({volume, true});
  volumes.push_back({cartsim.mount_path(), true});
  env_ = write_host_volumes((scratch_ / "host").string(), volumes);
  env_.push_back({"XDG_RUNTIME_DIR", (scratch_ / "run").string()});
}

void N64Dump::no_device() {
  env_ = write_host_volumes((scratch_ / "host").string(), {{"/", false}});
  env_.push_back({"XDG_RUNTIME_DIR", (scratch_ / "run").string()});
}

std::vector<std::string> N64Dump::partial_files() const {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(work(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".part")) names.push_back(name);
  }
  return names;
}

ToolRun N64Dump::dump(const std::string& input) { return run_tool({n64dump_program()}, work().string(), env_, input); }

ToolRun N64Dump::n64dump(std::vector<std::string> args) {
  if (!args.empty() && std::find(args.begin(), args.end(), "--catalogue") == args.end()) {
    args.insert(args.end(), {"--catalogue", empty_catalogue().string()});
  }
  args.insert(args.begin(), n64dump_program());
  return run_tool(args, work().string(), env_);
}

ToolRun N64Dump::dump_in_terminal(const std::string& input) {
  return run_tool_in_terminal({n64dump_program()}, work().string(), env_, input);
}

}  // namespace cartdump::test

#include "tests/support/n64dump_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace cartdump::test {

namespace fs = std::filesystem;

std::vector<uint8_t> read_whole_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_whole_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
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

void N64DumpTest::SetUp() {
  CartsimTest::SetUp();
  if (IsSkipped()) return;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) c = (c == '/') ? '_' : c;
  dir_ = fs::current_path() / "n64dump_dump_e2e" / name;
  fs::remove_all(dir_);
  fs::create_directories(work());
  std::ofstream(dir_ / "empty.ini") << "; no cartridges\n";
}

void N64DumpTest::TearDown() {
  CartsimTest::TearDown();
  if (!dir_.empty()) fs::remove_all(dir_);
}

void N64DumpTest::plug_in(const std::vector<std::string>& options, const std::vector<std::string>& before) {
  ASSERT_NO_FATAL_FAILURE(mount(options));
  std::vector<HostVolume> volumes = {{"/", false}};
  for (const std::string& mount_point : before) volumes.push_back({mount_point, true});
  volumes.push_back({cartsim.mount_path(), true});
  env_ = write_host_volumes((dir_ / "host").string(), volumes);
}

ToolRun N64DumpTest::n64dump(std::vector<std::string> args) {
  if (!args.empty()) args.insert(args.end(), {"--catalogue", (dir_ / "empty.ini").string()});
  args.insert(args.begin(), n64dump_program());
  return run_tool(args, work().string(), env_);
}

}  // namespace cartdump::test

// host_volumes: the host's volumes of tests/support/host_volumes.h as a command, for the scripts
// that show a directory to the Linux volume walk (scripts/common.sh, tests/n64dump_wine_e2e.sh).
//   host_volumes DIR [--fixed MOUNT_POINT | --removable MOUNT_POINT]...
// Writes DIR/mountinfo and the sysfs tree DIR/sys with the volumes in the order given, and prints
// the walk's two overrides as NAME=VALUE lines for env(1). Paths are made absolute, so that the
// overrides hold from any working directory. Exits 0 after writing, 2 on a usage error and 1 when
// the files could not be written.
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "tests/support/host_volumes.h"

namespace {

namespace fs = std::filesystem;

int usage() {
  std::fputs("usage: host_volumes DIR [--fixed MOUNT_POINT | --removable MOUNT_POINT]...\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::vector<cartdump::test::HostVolume> volumes;
  for (int i = 2; i < argc; i += 2) {
    const std::string_view kind = argv[i];
    if ((kind != "--fixed" && kind != "--removable") || i + 1 >= argc) return usage();
    volumes.push_back({fs::absolute(argv[i + 1]).string(), kind == "--removable"});
  }
  try {
    for (const auto& [name, value] : cartdump::test::write_host_volumes(fs::absolute(argv[1]).string(), volumes)) {
      std::printf("%s=%s\n", name.c_str(), value.c_str());
    }
  } catch (const fs::filesystem_error& error) {
    std::fprintf(stderr, "host_volumes: %s\n", error.what());
    return 1;
  }
  return 0;
}

#include "tests/support/host_volumes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

void write_text(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path);
  out << text;
  out.close();
  if (!out) throw fs::filesystem_error("cannot write", path, std::make_error_code(std::errc::io_error));
}

// mountinfo escapes blanks and backslashes in paths as octal.
std::string escaped(const std::string& path) {
  std::string out;
  for (char c : path) {
    switch (c) {
      case ' ': out += "\\040"; break;
      case '\t': out += "\\011"; break;
      case '\n': out += "\\012"; break;
      case '\\': out += "\\134"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

Environment write_host_volumes(const std::string& dir, const std::vector<HostVolume>& volumes) {
  const fs::path root(dir);
  const fs::path sysfs = root / "sys";
  const fs::path dev_block = sysfs / "dev" / "block";
  // Only the tables of an earlier call go: the directory may hold other things (the scripts pass
  // any directory of theirs).
  fs::remove_all(sysfs);
  fs::remove(root / "mountinfo");
  fs::create_directories(dev_block);
  std::string mountinfo;
  int id = 20;
  for (size_t i = 0; i < volumes.size(); ++i) {
    const HostVolume& volume = volumes[i];
    // Disk i is sd<letter>, its partition 1 the volume: MAJ:MIN 8:(16 i + 1).
    const std::string disk = std::string("sd") + static_cast<char>('a' + i);
    const std::string number = "8:" + std::to_string(16 * i + 1);
    const fs::path disk_dir = sysfs / "devices" / "pci0000:00" / (volume.removable ? "usb1" : "ata1") / disk;
    write_text(disk_dir / "removable", volume.removable ? "1\n" : "0\n");
    write_text(disk_dir / (disk + "1") / "partition", "1\n");
    write_text(disk_dir / (disk + "1") / "uevent", "MAJOR=8\nDEVNAME=" + disk + "1\nDEVTYPE=partition\n");
    fs::create_symlink(fs::relative(disk_dir / (disk + "1"), dev_block), dev_block / number);
    mountinfo += std::to_string(id + static_cast<int>(i)) + " 1 " + number + " / " + escaped(volume.mount_point) +
                 " rw,relatime - " + (volume.removable ? "vfat" : "ext4") + " /dev/" + disk + "1 rw\n";
  }
  write_text(root / "mountinfo", mountinfo);
  return {{"CARTDUMP_MOUNTINFO", (root / "mountinfo").string()}, {"CARTDUMP_SYSFS", sysfs.string()}};
}

ScopedEnvironment::ScopedEnvironment(const Environment& env) {
  for (const auto& [name, value] : env) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, {old != nullptr, old != nullptr ? old : ""}});
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  for (const auto& [name, old] : saved_) {
    if (old.first) {
      ::setenv(name.c_str(), old.second.c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

}  // namespace cartdump::test

// The drive walk on Linux: the mounted volumes of /proc/self/mountinfo stand for the drive list.
//
// The mounts are taken in the file's order; a volume's root is the mount point followed by "/";
// it is removable when the mount's block device (its MAJ:MIN) has "removable" = 1 in sysfs, taken
// from the parent device for a partition. The label is the filesystem label that udev publishes
// in /dev/disk/by-label, matched to the volume's kernel device name. Two diagnostic overrides
// point the walk elsewhere, and nothing else reads them: CARTDUMP_MOUNTINFO (a file in mountinfo
// format) and CARTDUMP_SYSFS (a directory standing for /sys).
//
// A mountinfo line reads
//   36 35 8:17 / /media/user/CART\040READER rw,nosuid shared:1 - vfat /dev/sdb1 rw,...
// with the block device's MAJ:MIN in field 3 and the mount point in field 5, where space, tab,
// newline and backslash appear as octal escapes (\040, \011, \012, \134).
// sysfs/dev/block/MAJ:MIN leads to the device's directory; a partition's directory holds a file
// "partition", and "removable" is a property of the whole disk, one directory up.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "link/drive_walk_posix.h"

namespace cartdump {
namespace {

constexpr const char* kMountinfo = "/proc/self/mountinfo";
constexpr const char* kSysfs = "/sys";
constexpr const char* kLabelDirectory = "/dev/disk/by-label";

bool is_octal(char c) { return c >= '0' && c <= '7'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Mount points escape some characters as a backslash and three octal digits.
std::string unescape_octal(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && is_octal(text[i + 1]) && is_octal(text[i + 2]) &&
        is_octal(text[i + 3])) {
      out.push_back(static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// udev names its label links with unsafe characters as \xHH.
std::string unescape_hex(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hex_value(text[i + 2]) >= 0 &&
        hex_value(text[i + 3]) >= 0) {
      out.push_back(static_cast<char>(hex_value(text[i + 2]) * 16 + hex_value(text[i + 3])));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// The first line of a small file, "" when it cannot be read.
std::string first_line(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

bool is_file(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A device is removable when its "removable" flag is 1; a partition takes its disk's. The path
// goes through the MAJ:MIN link, so ".." is the disk's directory, as the kernel resolves it.
bool is_removable(const std::string& device_directory) {
  const std::string flag = is_file(device_directory + "/partition") ? device_directory + "/../removable"
                                                                    : device_directory + "/removable";
  return first_line(flag) == "1";
}

// The kernel's name for the device (sdb1), from DEVNAME in its uevent file.
std::string kernel_name(const std::string& device_directory) {
  std::ifstream in(device_directory + "/uevent");
  constexpr std::string_view key = "DEVNAME=";
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(key)) {
      return line.substr(key.size());
    }
  }
  return {};
}

template <size_t N>
bool copy_text(std::array<char, N>& field, const std::string& text) {
  if (text.size() >= N) {
    return false;
  }
  field.fill('\0');
  std::copy(text.begin(), text.end(), field.begin());
  return true;
}

const char* source(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

std::vector<DriveVolume> drive_walk_volumes_from(const char* mountinfo, const char* sysfs) {
  std::vector<DriveVolume> volumes;
  std::ifstream in(mountinfo);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string mount_id, parent_id, device_number, mount_root, mount_point;
    if (!(fields >> mount_id >> parent_id >> device_number >> mount_root >> mount_point)) {
      continue;
    }
    std::string root = unescape_octal(mount_point);
    if (root.empty() || root.back() != '/') {
      root.push_back('/');
    }
    DriveVolume volume;
    if (!copy_text(volume.root, root)) {
      continue;  // a root the DeviceState cannot hold could not be addressed
    }
    const std::string device_directory = std::string(sysfs) + "/dev/block/" + device_number;
    volume.removable = is_removable(device_directory);
    copy_text(volume.device, kernel_name(device_directory));
    volumes.push_back(volume);
  }
  return volumes;
}

bool drive_walk_label_in(const char* label_directory, const DriveVolume& volume, char* label, uint32_t capacity) {
  if (capacity == 0) {
    return false;
  }
  label[0] = '\0';
  const std::string_view device(volume.device.data());
  if (device.empty()) {
    return false;
  }
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator it(label_directory, error), end; !error && it != end; it.increment(error)) {
    std::error_code link_error;
    const fs::path target = fs::read_symlink(it->path(), link_error);
    if (link_error || target.filename() != device) {
      continue;
    }
    const std::string text = unescape_hex(it->path().filename().string());
    const size_t n = std::min<size_t>(text.size(), capacity - 1);
    std::memcpy(label, text.data(), n);
    label[n] = '\0';
    return true;
  }
  return false;
}

std::vector<DriveVolume> drive_walk_volumes() {
  return drive_walk_volumes_from(source(kMountinfoOverride, kMountinfo), source(kSysfsOverride, kSysfs));
}

bool drive_walk_label(const DriveVolume& volume, char* label, uint32_t capacity) {
  return drive_walk_label_in(kLabelDirectory, volume, label, capacity);
}

// A missing medium fails a probe here without asking anyone.
uint32_t drive_walk_quiet_begin() { return 0; }

void drive_walk_quiet_end(uint32_t) {}

}  // namespace cartdump

#include "fuzz/support/fuzz_drive.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstring>

#include "fuzz/support/fuzz_check.h"
#include "link/device_link.h"
#include "link/drive_walk.h"
#include "link/file_io.h"

namespace cartdump {
namespace {

fuzz::FuzzDrive drive;

}  // namespace

namespace fuzz {

FuzzDrive& fuzz_drive() { return drive; }

void fuzz_drive_reset() { drive = FuzzDrive{}; }

const std::vector<uint8_t>* fuzz_drive_file(const std::string& path) {
  for (const std::string& root : drive.file_roots) {
    if (path == root + kResponseFile) return &drive.reply_file;
    if (path == root + kDumpFile) return &drive.dump_file;
  }
  return nullptr;
}

uint32_t fuzz_drive_available(uint64_t file_size, uint32_t offset, uint32_t length) {
  return offset < file_size ? static_cast<uint32_t>(std::min<uint64_t>(length, file_size - offset)) : 0;
}

void fuzz_check_addressable(const void* data, uint64_t length, const char* what) {
  if (length == 0) {
    return;
  }
  FUZZ_CHECK(data != nullptr, "%s: null for %llu bytes", what, static_cast<unsigned long long>(length));
  const void* bad = __asan_region_is_poisoned(const_cast<void*>(data), length);
  FUZZ_CHECK(bad == nullptr, "%s: %llu bytes claimed, byte %lld is not addressable", what,
             static_cast<unsigned long long>(length),
             static_cast<long long>(static_cast<const char*>(bad) - static_cast<const char*>(data)));
}

}  // namespace fuzz

const char* file_error_text() { return ""; }

int write_whole_file(const char* path, const uint8_t* buffer, uint32_t length) {
  fuzz::fuzz_check_addressable(buffer, length, "write_whole_file source");
  drive.writes.push_back({path, std::vector<uint8_t>(buffer, buffer + length)});
  return drive.writes_fail ? 0 : static_cast<int>(length);
}

int read_file_unbuffered(const char* path, uint8_t* destination, uint32_t length, uint32_t offset) {
  if (destination == nullptr) {
    return 0;
  }
  fuzz::fuzz_check_addressable(destination, length, "read_file_unbuffered destination");
  const std::vector<uint8_t>* file = fuzz::fuzz_drive_file(path);
  if (file == nullptr) {
    return 0;
  }
  uint32_t n = fuzz::fuzz_drive_available(file->size(), offset, length);
  if (!drive.read_limits.empty()) {
    n = std::min(n, drive.read_limits.front());
    drive.read_limits.pop_front();
  }
  std::copy_n(file->begin() + (n > 0 ? offset : 0), n, destination);
  drive.delivered.push_back(n);
  return static_cast<int>(n);
}

std::vector<DriveVolume> drive_walk_volumes() {
  std::vector<DriveVolume> volumes;
  for (const fuzz::FuzzVolume& v : drive.volumes) {
    DriveVolume volume;
    v.root.copy(volume.root.data(), volume.root.size() - 1);
    volume.removable = v.removable;
    v.root.copy(volume.device.data(), volume.device.size() - 1);
    volumes.push_back(volume);
  }
  return volumes;
}

// As a host gives it: at most capacity - 1 bytes of the label and a NUL.
bool drive_walk_label(const DriveVolume& volume, char* label, uint32_t capacity) {
  fuzz::fuzz_check_addressable(label, capacity, "drive_walk_label buffer");
  FUZZ_CHECK(capacity > 0, "a label buffer of 0 bytes");
  label[0] = '\0';
  const std::string root(volume.root.data());
  drive.label_requests.push_back(root);
  const auto it = std::find_if(drive.volumes.begin(), drive.volumes.end(),
                               [&](const fuzz::FuzzVolume& v) { return v.root == root; });
  if (it == drive.volumes.end() || it->label.empty()) {
    return false;
  }
  const size_t n = std::min<size_t>(it->label.size(), capacity - 1);
  std::copy_n(it->label.begin(), n, label);
  label[n] = '\0';
  return true;
}

}  // namespace cartdump

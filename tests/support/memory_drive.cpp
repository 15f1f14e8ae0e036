#include "tests/support/memory_drive.h"

#include <algorithm>
#include <string_view>

#include "link/device_link.h"
#include "link/device_state.h"
#include "link/file_io.h"
#include "tests/support/fake_breach.h"

namespace cartdump {
namespace {

test::MemoryDrive drive;

enum class DeviceFile : uint8_t { none, command, reply, dump };

struct DeviceFileName {
  const char* name;
  DeviceFile file;
};

constexpr DeviceFileName kDeviceFiles[] = {
    {kCommandFile, DeviceFile::command}, {kResponseFile, DeviceFile::reply}, {kDumpFile, DeviceFile::dump}};

DeviceFile device_file_at(const char* path) {
  for (const std::string& root : drive.device_roots) {
    for (const DeviceFileName& f : kDeviceFiles) {
      if (root + f.name == path) {
        return f.file;
      }
    }
  }
  return DeviceFile::none;
}

bool is_on_gone_drive(const char* path) {
  return drive.unplugged && std::any_of(drive.device_roots.begin(), drive.device_roots.end(),
                                        [&](const std::string& root) { return std::string_view(path).starts_with(root); });
}

int fail(const char* what, const char* path) {
  drive.error = std::string(what) + " " + path + ": No such file or directory";
  return 0;
}

int record(test::FileCall call) {
  drive.calls.push_back(std::move(call));
  return drive.calls.back().result;
}

uint32_t copy_out(const std::vector<uint8_t>& file, uint32_t offset, uint8_t* destination, uint32_t length) {
  const uint32_t n = test::memory_drive_available(file.size(), offset, length);
  std::copy_n(file.begin() + (n > 0 ? offset : 0), n, destination);
  return n;
}

uint32_t read_device_file(DeviceFile file, uint32_t offset, uint8_t* destination, uint32_t length) {
  if (!drive.read_limits.empty()) {
    length = std::min(length, drive.read_limits.front());
    drive.read_limits.pop_front();
  }
  sim::Device* device = drive.device;
  if (file == DeviceFile::reply && device != nullptr && drive.short_replies > 0 && !device->log.empty() &&
      device->log.back().address == drive.short_address) {
    --drive.short_replies;
    length /= 2;
  }
  switch (file) {
    case DeviceFile::reply:
      return device != nullptr ? static_cast<uint32_t>(device->read_reply_file(offset, destination, length))
                               : copy_out(drive.reply_file, offset, destination, length);
    case DeviceFile::dump:
      return device != nullptr ? static_cast<uint32_t>(device->read_dump_file(offset, destination, length))
                               : copy_out(drive.dump_file, offset, destination, length);
    default:
      return copy_out(device != nullptr ? device->command_file : drive.command_file, offset, destination, length);
  }
}

void write_command_file(const uint8_t* buffer, uint32_t length) {
  if (drive.device != nullptr) {
    drive.device->truncate_command_file();
    drive.device->write_command_file(0, buffer, length);
  } else {
    drive.command_file.assign(buffer, buffer + length);
  }
}

}  // namespace

const char* file_error_text() { return drive.error.c_str(); }

int file_cached_fallback() { return drive.cached_fallback ? 1 : 0; }

int write_whole_file(const char* path, const uint8_t* buffer, uint32_t length) {
  drive.error.clear();
  if (!test::fake_addressable(buffer, length, "write_whole_file source")) {
    return 0;
  }
  test::FileCall call{.write = true, .path = path, .length = length, .bytes{buffer, buffer + length}};
  const DeviceFile file = device_file_at(path);
  if (is_on_gone_drive(path) || drive.writes_fail) {
    call.result = fail("cannot create", path);
  } else if (file == DeviceFile::command) {
    uint32_t taken = length;
    if (!drive.write_limits.empty()) {
      taken = std::min(taken, drive.write_limits.front());
      drive.write_limits.pop_front();
    }
    write_command_file(buffer, taken);
    call.result = static_cast<int>(taken);
    if (taken < length) {
      drive.error = std::string("cannot write ") + path + ": Read-only file system";
    }
  } else if (file != DeviceFile::none) {
    call.result = fail("cannot create", path);  // the device's own files are read-only
  } else {
    drive.files[path].assign(buffer, buffer + length);
    call.result = static_cast<int>(length);
  }
  return record(std::move(call));
}

int read_file_unbuffered(const char* path, uint8_t* destination, uint32_t length, uint32_t offset) {
  drive.error.clear();
  if (destination == nullptr) {
    return 0;
  }
  test::fake_addressable(destination, length, "read_file_unbuffered destination");
  test::FileCall call{.path = path, .offset = offset, .length = length};
  const DeviceFile file = device_file_at(path);
  if (is_on_gone_drive(path)) {
    call.result = fail("cannot open", path);
  } else if (file != DeviceFile::none) {
    call.result = static_cast<int>(read_device_file(file, offset, destination, length));
  } else if (const auto it = drive.files.find(path); it != drive.files.end()) {
    call.result = static_cast<int>(copy_out(it->second, offset, destination, length));
  } else {
    call.result = fail("cannot open", path);
  }
  return record(std::move(call));
}

namespace test {

MemoryDrive& memory_drive() { return drive; }

void memory_drive_attach(sim::Device* device, const std::string& root) {
  drive.device = device;
  drive.device_roots.clear();
  if (device != nullptr) {
    drive.device_roots.insert(root);
  }
}

void memory_drive_unplug(bool unplugged) { drive.unplugged = unplugged; }

void memory_drive_reset() { drive = MemoryDrive{}; }

std::map<std::string, std::vector<uint8_t>>& memory_files() { return drive.files; }

std::vector<FileCall>& memory_drive_calls() { return drive.calls; }

std::vector<const FileCall*> memory_drive_writes() {
  std::vector<const FileCall*> writes;
  for (const FileCall& call : drive.calls) {
    if (call.write) {
      writes.push_back(&call);
    }
  }
  return writes;
}

uint32_t memory_drive_available(uint64_t file_size, uint32_t offset, uint32_t length) {
  return offset < file_size ? static_cast<uint32_t>(std::min<uint64_t>(length, file_size - offset)) : 0;
}

void set_drive_root(const std::string& root) {
  device_state.drive_root.fill(0);
  root.copy(device_state.drive_root.data(), device_state.drive_root.size() - 1);
}

}  // namespace test
}  // namespace cartdump

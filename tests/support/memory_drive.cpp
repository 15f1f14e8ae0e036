#include "tests/support/memory_drive.h"

#include <cstring>
#include <memory>
#include <string_view>

#include "link/file_io.h"

namespace cartdump {
namespace {

struct MemoryDrive {
  sim::Device* device = nullptr;
  std::string root;
  std::map<std::string, std::vector<uint8_t>> files;
  std::vector<test::FileCall> calls;
  std::string error;
  bool unplugged = false;
};

MemoryDrive drive;

bool is_on_gone_drive(const char* path) {
  return drive.unplugged && std::string_view(path).starts_with(drive.root);
}

bool is_device_file(const char* path, const char* name) {
  return drive.device != nullptr && drive.root + name == path;
}

int fail(const char* what, const char* path) {
  drive.error = std::string(what) + " " + path + ": No such file or directory";
  return 0;
}

int record(test::FileCall call) {
  drive.calls.push_back(call);
  return call.result;
}

}  // namespace

const char* file_error_text() { return drive.error.c_str(); }

int write_whole_file(const char* path, const uint8_t* buffer, uint32_t length) {
  drive.error.clear();
  test::FileCall call{.write = true, .path = path, .length = length};
  if (is_on_gone_drive(path)) {
    call.result = fail("cannot create", path);
  } else if (is_device_file(path, kCommandFile)) {
    drive.device->truncate_command_file();
    drive.device->write_command_file(0, buffer, length);
    call.result = static_cast<int>(length);
  } else if (is_device_file(path, kResponseFile) || is_device_file(path, kDumpFile)) {
    call.result = fail("cannot create", path);  // the device's own files are read-only
  } else {
    drive.files[path].assign(buffer, buffer + length);
    call.result = static_cast<int>(length);
  }
  return record(call);
}

int read_file_unbuffered(const char* path, uint8_t* destination, uint32_t length, uint32_t offset) {
  drive.error.clear();
  if (destination == nullptr) {
    return 0;
  }
  test::FileCall call{.path = path, .offset = offset, .length = length};
  if (is_on_gone_drive(path)) {
    call.result = fail("cannot open", path);
  } else if (is_device_file(path, kResponseFile)) {
    call.result = static_cast<int>(drive.device->read_reply_file(offset, destination, length));
  } else if (is_device_file(path, kDumpFile)) {
    call.result = static_cast<int>(drive.device->read_dump_file(offset, destination, length));
  } else if (is_device_file(path, kCommandFile)) {
    const auto& file = drive.device->command_file;
    const size_t n = offset < file.size() ? std::min<size_t>(length, file.size() - offset) : 0;
    std::memcpy(destination, file.data() + offset, n);
    call.result = static_cast<int>(n);
  } else if (const auto it = drive.files.find(path); it != drive.files.end()) {
    const auto& file = it->second;
    const size_t n = offset < file.size() ? std::min<size_t>(length, file.size() - offset) : 0;
    std::memcpy(destination, file.data() + offset, n);
    call.result = static_cast<int>(n);
  } else {
    call.result = fail("cannot open", path);
  }
  return record(call);
}

namespace test {

void memory_drive_attach(sim::Device* device, const std::string& root) {
  drive.device = device;
  drive.root = root;
}

void memory_drive_unplug(bool unplugged) { drive.unplugged = unplugged; }

void memory_drive_reset() { drive = MemoryDrive{}; }

std::map<std::string, std::vector<uint8_t>>& memory_files() { return drive.files; }

std::vector<FileCall>& memory_drive_calls() { return drive.calls; }

void set_drive_root(const std::string& root) {
  device_state.drive_root.fill(0);
  root.copy(device_state.drive_root.data(), device_state.drive_root.size() - 1);
}

void DeviceTest::SetUp() {
  memory_drive_reset();
  device_state = DeviceState{};
  configure(config);
  restart();
}

void DeviceTest::TearDown() {
  memory_drive_reset();
  device_state = DeviceState{};
}

void DeviceTest::restart() {
  device_ = std::make_unique<sim::Device>(config);
  memory_drive_attach(device_.get(), root);
  set_drive_root(root);
}

void DeviceTest::clear_record() {
  device().log.clear();
  memory_drive_calls().clear();
}

}  // namespace test
}  // namespace cartdump

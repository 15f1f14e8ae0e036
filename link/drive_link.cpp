#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/device_link.h"
#include "link/file_io.h"
#include "link/sector.h"

namespace cartdump {
namespace {

int read_device_file(const char* name, uint32_t offset, uint8_t* destination, uint32_t length) {
  if (destination == nullptr) {
    return 0;
  }
  const DevicePath path = device_file_path(name);
  if (length > kReplyBlockSize) {
    return read_file_unbuffered(path.data(), destination, length, offset);
  }
  std::array<uint8_t, kReplyBlockSize> block{};
  const int n = read_file_unbuffered(path.data(), block.data(), kReplyBlockSize, offset);
  std::memcpy(destination, block.data(), length);
  return std::min(n, static_cast<int>(length));
}

}  // namespace

DevicePath device_file_path(const char* name) {
  DevicePath path{};
  const auto& root = device_state.drive_root;
  const int root_length = static_cast<int>(strnlen(root.data(), root.size()));
  std::snprintf(path.data(), path.size(), "%.*s%s", root_length, root.data(), name);
  return path;
}

int send_sectors(uint8_t* batch, uint32_t length) {
  frame_sectors(batch, length);
  return write_whole_file(device_file_path(kCommandFile).data(), batch, length);
}

int read_reply(uint32_t offset, uint8_t* destination, uint32_t length) {
  return read_device_file(kResponseFile, offset, destination, length);
}

int read_dump(uint32_t offset, uint8_t* destination, uint32_t length) {
  return read_device_file(kDumpFile, offset, destination, length);
}

}  // namespace cartdump

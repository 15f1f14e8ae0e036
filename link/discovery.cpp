#include "link/discovery.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "link/device_link.h"
#include "link/device_state.h"
#include "link/drive_walk.h"
#include "link/hid_link.h"
#include "link/sector.h"

namespace cartdump {
namespace {

using IdentityBlock = std::array<uint8_t, kIdentityBlockSize>;
using HidReply = std::array<uint8_t, kHidPayloadSize>;

constexpr uint32_t kSecondBlockOffset = 256;
constexpr uint32_t kBlockIdOffset = 512;
constexpr uint8_t kServiceGroup = 0xF0;
constexpr uint8_t kIdentityRequest = 0x04;
// GetVolumeInformationA is given a name buffer of 63 characters: at most 62 and the terminator.
constexpr uint32_t kLabelBufferSize = kNameCapacity - 1;

bool begins_boot(const uint8_t* bytes) { return std::memcmp(bytes, "BOOT", 4) == 0; }

// A name from a source of source_size bytes: up to the first NUL, at most 63 characters, always
// terminated. A source without a NUL (a 64-byte HID reply) gives its first 63 characters.
void copy_name(std::array<char, kNameCapacity>& field, const uint8_t* source, size_t source_size) {
  const size_t limit = std::min<size_t>(source_size, kNameCapacity - 1);
  const auto* end = std::find(source, source + limit, uint8_t{0});
  field.fill('\0');
  std::copy(source, end, field.begin());
}

void copy_id(const uint8_t* source) { std::copy_n(source, kDeviceIdSize, device_state.device_id.begin()); }

// The drive that locate_drive found, and its identity block, kept for identify_device.
struct LocatedDrive {
  DriveVolume volume;
  IdentityBlock block;
};
LocatedDrive located{};

// The drive's identity block, the DeviceId from it or from the identity request, and the names;
// the host kept quiet while the label is asked for, as during the walk.
void identify_drive(const DriveVolume& volume, IdentityBlock& block) {
  const DriveWalkQuiet quiet;
  device_state.boot_mode = begins_boot(block.data()) ? 1 : 0;
  drive_walk_label(volume, device_state.volume_label.data(), kLabelBufferSize);
  copy_name(device_state.device_name, block.data(), block.size());
  const uint8_t* second = block.data() + kSecondBlockOffset;
  if (begins_boot(second)) {
    device_state.second_block = 1;
    copy_id(block.data() + kBlockIdOffset);
    copy_name(device_state.second_name, second, block.size() - kSecondBlockOffset);
    return;
  }
  device_state.second_block = 0;
  // The block's first 512 bytes, renamed, are the identity request; the reply overwrites the
  // block only now that the name has been copied out of it.
  block[1] = kServiceGroup;
  block[2] = kIdentityRequest;
  send_sectors(block.data(), kSectorSize);
  read_reply(0, block.data(), static_cast<uint32_t>(block.size()));
  copy_id(block.data());
}

// The walk of probe_drives up to the identity block, which it keeps in located; sends nothing.
// Windows is kept from asking about drives without a medium meanwhile.
bool locate_drive() {
  const DriveWalkQuiet quiet;
  const std::vector<DriveVolume> volumes = drive_walk_volumes();
  for (const DriveVolume& volume : volumes) {
    located.block.fill(0);
    if (drive_volume_identity(volume, located.block.data())) {
      located.volume = volume;
      return true;
    }
  }
  return false;
}

void identify_hid_device() {
  HidReply reply{};
  dev_query_name(reply.data());
  device_state.boot_mode = begins_boot(reply.data()) ? 1 : 0;
  copy_name(device_state.device_name, reply.data(), reply.size());
  dev_query_id(reply.data());
  copy_id(reply.data());
}

}  // namespace

bool find_hid_device() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (hid_open_devices(1, kHidVendorId, kHidProductId, -1, -1) > 0) {
      return true;
    }
  }
  return false;
}

void query_device_info(uint8_t opcode, uint8_t* reply) {
  std::array<uint8_t, kHidPayloadSize> report{};
  report[0] = opcode;
  hid_exchange(report.data(), reply);
}

void dev_query_name(uint8_t* reply) { query_device_info(kOpcodeQueryName, reply); }

void dev_query_id(uint8_t* reply) { query_device_info(kOpcodeQueryId, reply); }

bool drive_volume_identity(const DriveVolume& volume, uint8_t* block) {
  device_state.drive_root = volume.root;
  // A removable drive whose reply file has no whole identity block (a memory stick, say) is not
  // the device.
  return volume.removable &&
         read_reply(kIdentityOffset, block, kIdentityBlockSize) == static_cast<int>(kIdentityBlockSize);
}

bool probe_drives() {
  if (!locate_drive()) {
    return false;
  }
  identify_drive(located.volume, located.block);
  return true;
}

bool locate_device() {
  device_state.device_name.fill('\0');
  device_state.volume_label.fill('\0');
  device_state.second_name.fill('\0');
  device_state.drive_root.fill('\0');
  if (find_hid_device()) {
    device_state.link_kind = kLinkHid;
    device_state.hid_mode = 1;
    return true;
  }
  if (locate_drive()) {
    device_state.link_kind = kLinkDrive;
    device_state.hid_mode = 0;
    return true;
  }
  return false;
}

void identify_device() {
  if (device_state.hid_mode != 0) {
    identify_hid_device();
  } else {
    identify_drive(located.volume, located.block);
  }
}

const char* located_device_path() {
  return device_state.hid_mode != 0 ? hid_device_path(0) : device_state.drive_root.data();
}

bool open_device() {
  if (!locate_device()) {
    return false;
  }
  identify_device();
  return true;
}

void close_device() {
  if (device_state.hid_mode != 0) {
    hid_close_device(0);
  }
}

}  // namespace cartdump

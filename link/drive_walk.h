// The host's volumes, as discovery walks them looking for the device drive. One implementation
// per platform (drive_walk_posix.cpp, drive_walk_win32.cpp); the unit tests put a fake behind the
// same two functions.
//
//   Windows: the volumes are the drive strings of GetLogicalDriveStringsA (a 260-character buffer
//   given as 259), taken in steps of 4 characters while the position is below the returned length
//   and inside the buffer; root "E:\", removable when GetDriveTypeA gives DRIVE_REMOVABLE. The
//   label is GetVolumeInformationA's volume name.
//
//   Linux: the volumes are the mounts of /proc/self/mountinfo in its order; root is the mount point
//   followed by "/"; removable when the mount's block device (its MAJ:MIN) has "removable" = 1 in
//   sysfs, taken from the parent device for a partition. The label is the filesystem label that
//   udev publishes in /dev/disk/by-label, matched to the volume's kernel device name. Two
//   diagnostic overrides point the walk elsewhere, and nothing else reads them:
//   CARTDUMP_MOUNTINFO (a file in mountinfo format) and CARTDUMP_SYSFS (a directory standing for
//   /sys).
//
// The label is asked for one volume at a time, only for the volume that turned out to be the
// device: asking a host for labels can touch slow drives (an empty floppy or optical drive).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "link/device_state.h"

namespace cartdump {

struct DriveVolume {
  std::array<char, kDriveRootCapacity> root{};  // as drive_root holds it, NUL-terminated
  bool removable = false;
  std::array<char, 64> device{};  // the host's name for the volume's device, for the label ("" if none)
};

// The host's volumes in the host's order; empty when the host lists none.
std::vector<DriveVolume> drive_walk_volumes();

// The volume's label, at most capacity - 1 characters and a NUL. Returns false, with label
// empty, when none can be had.
bool drive_walk_label(const DriveVolume& volume, char* label, uint32_t capacity);

}  // namespace cartdump

// The Linux drive walk with its sources named, for the platform tests; drive_walk_volumes and
// drive_walk_label call these with /proc/self/mountinfo, /sys (or their overrides) and
// /dev/disk/by-label.
#pragma once

#include <cstdint>
#include <vector>

#include "link/drive_walk.h"

namespace cartdump {

inline constexpr const char* kMountinfoOverride = "CARTDUMP_MOUNTINFO";
inline constexpr const char* kSysfsOverride = "CARTDUMP_SYSFS";

// The mounts listed in the mountinfo file, in its order, their removable flag and kernel device
// name taken from the sysfs tree.
std::vector<DriveVolume> drive_walk_volumes_from(const char* mountinfo, const char* sysfs);

// The label published for the volume's device in a directory of links named after labels
// (udev's by-label directory).
bool drive_walk_label_in(const char* label_directory, const DriveVolume& volume, char* label, uint32_t capacity);

}  // namespace cartdump

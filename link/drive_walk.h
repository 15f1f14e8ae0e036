// The host's volumes, as discovery walks them looking for the device drive. One implementation
// per platform (drive_walk_posix.cpp, drive_walk_win32.cpp, each telling where its host keeps the
// volumes, their removable flag and their labels); the unit tests put a fake behind the same two
// functions.
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

// While the walk probes volumes, the host must not ask the user about a drive without a medium:
// Windows would raise a "There is no disk in the drive" dialog for an empty card reader or floppy
// drive. drive_walk_quiet_begin turns such questions off for the process and returns the setting
// it replaced, which drive_walk_quiet_end puts back. Other hosts ask nothing: both do nothing.
uint32_t drive_walk_quiet_begin();
void drive_walk_quiet_end(uint32_t previous);

// Keeps the host quiet for the guard's life: around every probe of the walk.
class DriveWalkQuiet {
 public:
  DriveWalkQuiet() : previous_(drive_walk_quiet_begin()) {}
  DriveWalkQuiet(const DriveWalkQuiet&) = delete;
  DriveWalkQuiet& operator=(const DriveWalkQuiet&) = delete;
  ~DriveWalkQuiet() { drive_walk_quiet_end(previous_); }

 private:
  uint32_t previous_;
};

}  // namespace cartdump

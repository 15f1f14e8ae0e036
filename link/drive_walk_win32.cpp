// The drive walk on Windows: the host's drive letters, each root in its 4-character form ("E:\"
// and the terminator), in the order GetLogicalDriveStringsA lists them.
//
// The volumes are the drive strings of GetLogicalDriveStringsA (a 260-character buffer given as
// 259), taken in steps of 4 characters while the position is below the returned length and inside
// the buffer; a volume is removable when GetDriveTypeA gives DRIVE_REMOVABLE. The label is
// GetVolumeInformationA's volume name.
//
// While the walk probes, the process's error mode has SEM_FAILCRITICALERRORS added (SetErrorMode
// replaces the whole mode and returns the one before, so it is called twice), and the mode before
// is set back afterwards: a probe of an empty removable drive then fails at once instead of
// raising a "There is no disk in the drive" dialog.
#include <windows.h>

#include <algorithm>
#include <array>

#include "link/drive_walk.h"

namespace cartdump {
namespace {

// The list of root strings: "C:\", NUL, "E:\", NUL, ..., each entry 4 characters. The buffer is
// given as one character shorter than it is, so the list always ends in a NUL of the buffer's.
constexpr DWORD kDriveListSize = 260;
constexpr DWORD kRootStep = 4;

}  // namespace

std::vector<DriveVolume> drive_walk_volumes() {
  std::array<char, kDriveListSize> list{};
  const DWORD length = ::GetLogicalDriveStringsA(kDriveListSize - 1, list.data());
  std::vector<DriveVolume> volumes;
  // A list that does not fit is answered with its needed size and leaves the buffer empty (26
  // letters take 105 characters, so it always fits).
  if (length >= kDriveListSize) {
    return volumes;
  }
  for (DWORD position = 0; position < length && position + kRootStep <= kDriveListSize; position += kRootStep) {
    DriveVolume volume;
    std::copy_n(list.data() + position, kRootStep, volume.root.begin());
    volume.root[kRootStep - 1] = '\0';
    volume.removable = ::GetDriveTypeA(volume.root.data()) == DRIVE_REMOVABLE;
    volumes.push_back(volume);
  }
  return volumes;
}

bool drive_walk_label(const DriveVolume& volume, char* label, uint32_t capacity) {
  if (capacity == 0) {
    return false;
  }
  label[0] = '\0';
  // The volume's name alone: no serial number, file system flags or file system name.
  if (!::GetVolumeInformationA(volume.root.data(), label, capacity, nullptr, nullptr, nullptr, nullptr, 0)) {
    label[0] = '\0';
    return false;
  }
  label[capacity - 1] = '\0';
  return true;
}

uint32_t drive_walk_quiet_begin() {
  const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
  ::SetErrorMode(previous | SEM_FAILCRITICALERRORS);
  return previous;
}

void drive_walk_quiet_end(uint32_t previous) { ::SetErrorMode(previous); }

}  // namespace cartdump

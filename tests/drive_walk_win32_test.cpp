// The drive walk over the real Windows volume services. Under Wine the drives are the prefix's
// (C: and Z:, both fixed); the walk over a removable drive that is the device is tested end to end
// (n64dump_wine_e2e.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "link/drive_walk.h"

namespace cartdump {
namespace {

// The roots of the host's drive letters, from the letter bitmask, in letter order.
std::vector<std::string> drive_letter_roots() {
  std::vector<std::string> roots;
  const DWORD mask = ::GetLogicalDrives();
  for (int letter = 0; letter < 26; ++letter) {
    if (mask & (1u << letter)) {
      roots.push_back(std::string(1, static_cast<char>('A' + letter)) + ":\\");
    }
  }
  return roots;
}

TEST(DriveWalkWin32, ListsEveryDriveLetterInOrderAsAFourCharacterRoot) {
  const std::vector<DriveVolume> volumes = drive_walk_volumes();
  std::vector<std::string> roots;
  for (const DriveVolume& volume : volumes) {
    roots.emplace_back(volume.root.data());
    // Letter, colon, backslash, terminator: the form the drive link puts before its file names.
    EXPECT_EQ(volume.root[3], '\0');
    EXPECT_TRUE(volume.root[0] >= 'A' && volume.root[0] <= 'Z') << volume.root.data();
  }
  EXPECT_EQ(roots, drive_letter_roots());
  // The system drive is a fixed disk, never taken for the device.
  const auto system = std::find(roots.begin(), roots.end(), "C:\\");
  ASSERT_NE(system, roots.end());
  EXPECT_FALSE(volumes[static_cast<size_t>(system - roots.begin())].removable);
}

TEST(DriveWalkWin32, LabelsAreAskedOfOneDrive) {
  DriveVolume system;
  std::memcpy(system.root.data(), "C:\\", 4);
  char label[63];
  std::memset(label, 'x', sizeof label);
  EXPECT_TRUE(drive_walk_label(system, label, sizeof label));
  EXPECT_LT(std::strlen(label), sizeof label);

  // A letter that no drive has gives no label, and an empty one.
  const DWORD mask = ::GetLogicalDrives();
  int free_letter = 25;
  while (free_letter > 0 && (mask & (1u << free_letter))) --free_letter;
  ASSERT_FALSE(mask & (1u << free_letter));
  DriveVolume absent;
  absent.root = {static_cast<char>('A' + free_letter), ':', '\\', '\0'};
  std::memset(label, 'x', sizeof label);
  EXPECT_FALSE(drive_walk_label(absent, label, sizeof label));
  EXPECT_STREQ(label, "");
}

// The guard around the walk's probes adds SEM_FAILCRITICALERRORS to whatever error mode the process
// has, and puts that mode back when it ends. (That the walk passes over an empty removable drive
// is tested end to end under Wine.)
TEST(DriveWalkWin32, TheQuietGuardAddsFailCriticalErrorsAndPutsTheModeBack) {
  // SetErrorMode gives the mode it replaces: reading the mode means setting it back at once.
  const auto mode_now = [] {
    const UINT mode = ::SetErrorMode(0);
    ::SetErrorMode(mode);
    return mode;
  };
  const UINT original = ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
  {
    const DriveWalkQuiet quiet;
    EXPECT_EQ(mode_now(), static_cast<UINT>(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS));
  }
  EXPECT_EQ(mode_now(), static_cast<UINT>(SEM_NOGPFAULTERRORBOX));
  ::SetErrorMode(original);
}

}  // namespace
}  // namespace cartdump

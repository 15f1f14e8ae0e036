// A fake host volume list for discovery: the volumes a test describes, in its order, with the
// labels it gives them. Roots are whatever the in-memory drive answers under ("E:\\", ...). A label
// buffer shorter than its capacity is a breach (fake_breach.h).
#pragma once

#include <string>
#include <vector>

namespace cartdump::test {

struct FakeVolume {
  std::string root;
  bool removable = false;
  std::string label;  // may hold any bytes; "" : the host has none
};

struct FakeDriveWalk {
  std::vector<FakeVolume> volumes;
  int listings = 0;
  std::vector<std::string> label_requests;  // roots whose label was asked for
};

FakeDriveWalk& fake_drive_walk();
void fake_drive_walk_reset();

}  // namespace cartdump::test

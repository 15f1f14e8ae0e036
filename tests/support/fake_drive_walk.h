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

// A stretch of the in-memory drive's calls (memory_drive_calls indexes, end past the last) made
// while the walk kept the host quiet (drive_walk_quiet_begin to its end).
struct QuietSpan {
  size_t first = 0;
  size_t end = 0;
};

struct FakeDriveWalk {
  std::vector<FakeVolume> volumes;
  int listings = 0;
  std::vector<std::string> label_requests;  // roots whose label was asked for
  std::vector<bool> labels_quiet;           // for each label request: whether the host was quiet
  uint32_t quiet_depth = 0;                 // the fake's setting: quiet when above 0
  std::vector<size_t> quiet_starts;         // the spans begun and not yet ended
  std::vector<QuietSpan> quiet_spans;       // the spans ended, in the order they ended
};

FakeDriveWalk& fake_drive_walk();
void fake_drive_walk_reset();
// Whether the in-memory drive's call at index was made inside a quiet span.
bool fake_drive_walk_call_quiet(size_t index);

}  // namespace cartdump::test

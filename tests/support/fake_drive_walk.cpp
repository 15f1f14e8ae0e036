#include "tests/support/fake_drive_walk.h"

#include <algorithm>
#include <cstring>

#include "link/drive_walk.h"
#include "tests/support/fake_breach.h"
#include "tests/support/memory_drive.h"

namespace cartdump {
namespace {

test::FakeDriveWalk walk;

}  // namespace

std::vector<DriveVolume> drive_walk_volumes() {
  ++walk.listings;
  std::vector<DriveVolume> volumes;
  for (const test::FakeVolume& v : walk.volumes) {
    DriveVolume volume;
    v.root.copy(volume.root.data(), volume.root.size() - 1);
    volume.removable = v.removable;
    v.root.copy(volume.device.data(), volume.device.size() - 1);  // the root names the volume
    volumes.push_back(volume);
  }
  return volumes;
}

// As a host gives it: at most capacity - 1 bytes of the label and a NUL.
bool drive_walk_label(const DriveVolume& volume, char* label, uint32_t capacity) {
  if (!test::fake_addressable(label, capacity, "drive_walk_label buffer") ||
      !test::fake_holds(capacity > 0, "a label buffer of 0 bytes")) {
    return false;
  }
  label[0] = '\0';
  const std::string root(volume.root.data());
  walk.label_requests.push_back(root);
  walk.labels_quiet.push_back(walk.quiet_depth > 0);
  const auto it = std::find_if(walk.volumes.begin(), walk.volumes.end(),
                               [&](const test::FakeVolume& v) { return v.root == root; });
  if (it == walk.volumes.end() || it->label.empty()) {
    return false;
  }
  const size_t n = std::min<size_t>(it->label.size(), capacity - 1);
  std::memcpy(label, it->label.data(), n);
  label[n] = '\0';
  return true;
}

// The setting is a depth, so that quiet spans may nest as the host's error mode does.
uint32_t drive_walk_quiet_begin() {
  walk.quiet_starts.push_back(test::memory_drive_calls().size());
  return walk.quiet_depth++;
}

void drive_walk_quiet_end(uint32_t previous) {
  if (!test::fake_holds(!walk.quiet_starts.empty(), "a quiet span ended that was not begun")) {
    return;
  }
  walk.quiet_spans.push_back({walk.quiet_starts.back(), test::memory_drive_calls().size()});
  walk.quiet_starts.pop_back();
  walk.quiet_depth = previous;
}

namespace test {

FakeDriveWalk& fake_drive_walk() { return walk; }

void fake_drive_walk_reset() { walk = FakeDriveWalk{}; }

bool fake_drive_walk_call_quiet(size_t index) {
  return std::any_of(walk.quiet_spans.begin(), walk.quiet_spans.end(),
                     [&](const QuietSpan& span) { return index >= span.first && index < span.end; });
}

}  // namespace test
}  // namespace cartdump

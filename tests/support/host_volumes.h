// The host's volumes as the Linux drive walk will see them, made in a scratch directory: a
// mountinfo file and a sysfs tree, reached through the walk's two overrides (CARTDUMP_MOUNTINFO,
// CARTDUMP_SYSFS). The volumes are listed in the given order; a removable one is laid out as the
// partition of a USB stick whose disk has removable = 1, a fixed one as a partition of a fixed disk.
// The tests call it directly, the scripts through the command host_volumes (host_volumes_tool.cpp),
// so that the tables, and the octal escapes of their mount points, are written in one place.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace cartdump::test {

struct HostVolume {
  std::string mount_point;
  bool removable = false;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// Writes dir/mountinfo and dir/sys for the volumes, replacing those an earlier call wrote (nothing
// else in dir is touched); returns the two overrides that point at them. Throws
// std::filesystem::filesystem_error when a file cannot be written.
Environment write_host_volumes(const std::string& dir, const std::vector<HostVolume>& volumes);

// Sets the variables of env for the life of the guard, and restores what was there before.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const Environment& env);
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment();

 private:
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

}  // namespace cartdump::test

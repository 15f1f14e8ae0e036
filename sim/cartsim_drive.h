// The drive that cartsim mounts: the device model's three files as a file system sees them, with
// the link model (latency, throughput) and the faults (unplug, short reads) on top. It knows
// nothing of FUSE: cartsim.cpp maps each file-system request onto one of these calls, all on one
// thread, since the device model is not thread-safe.
//
// Results follow the file-system convention: a byte count or 0 for success, -errno for failure.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "sim/cartsim_options.h"
#include "sim/device.h"

namespace cartdump::sim {

// The command file holds at most this many bytes (131072 sectors, far more than any batch the
// library sends): a write that would take it further, such as one at an offset far past its end,
// fails with EFBIG and leaves it as it was, instead of growing the model's memory without bound.
inline constexpr uint64_t kCommandFileLimit = uint64_t{64} << 20;

// The files in the root of the drive; none for any other name.
enum class DriveFile : uint8_t { none, command, reply, dump };

inline constexpr DriveFile kDriveFiles[] = {DriveFile::command, DriveFile::reply, DriveFile::dump};

const char* drive_file_name(DriveFile file);
// The file at a path below the mount point ("/CMD.CMD"); none for the root and for other names.
DriveFile drive_file_at(std::string_view path);

struct DriveStats {
  uint64_t reads = 0;         // reads of the three files
  uint64_t bytes_served = 0;  // bytes those reads delivered
  uint64_t short_reads = 0;   // reads cut short by --flaky-every
  uint64_t interrupted_reads = 0;  // reads failed with EINTR by --eintr-after
  uint64_t writes = 0;        // writes of the command file
  uint64_t bytes_taken = 0;   // bytes those writes delivered
};

class SimDrive {
 public:
  // log may be null (no --log); the drive does not own it.
  SimDrive(const CartsimOptions& options, Device& device, std::FILE* log);

  bool gone() const { return gone_; }
  const DriveStats& stats() const { return stats_; }
  // A file's size, or -ENOENT when the file is not there (an unknown name, or the device gone).
  int64_t size(DriveFile file) const;

  // Opening: the device's own files are read-only; the command file may be opened for writing,
  // and O_TRUNC starts a new batch. With --refuse-direct-io an O_DIRECT open of the reply or dump
  // file fails with EINVAL.
  int open(DriveFile file, int flags);
  // Creating a file: only the command file can be (re)created; it starts a new batch.
  int create(DriveFile file);
  // Truncation to 0 starts a new batch; the command file takes no other length.
  int truncate(DriveFile file, uint64_t length);
  int read(DriveFile file, uint64_t offset, uint8_t* out, size_t size);
  // Bytes of the command file: each sector completed by them runs before this returns. A write
  // that ends past kCommandFileLimit takes nothing and gives -EFBIG.
  int write(DriveFile file, uint64_t offset, const uint8_t* data, size_t size);

  // "cartsim: N commands accepted, ..." for stderr at the end.
  std::string statistics() const;

 private:
  // The link model runs on one clock. A transfer occupies the link for its bytes at the link's
  // rate and starts once the link and the device are both free; every command sector keeps the
  // device busy for the latency from the moment it has arrived. So a write returns once its bytes
  // have crossed the link, and the read of the reply waits for the device and then for its own
  // bytes, as on a real link, where the device works while the host goes on to its next call.
  // Waits end at their deadline, so the time a host spends on the link is what the model says.
  void transfer(size_t bytes);
  // What a call on file is refused with before it does anything (0: nothing): -ENOENT for no file,
  // -EIO once the device is gone, -EACCES for writing any file but the command file, -EROFS for
  // writing it once --refuse-writes-after says so.
  int refusal(DriveFile file, bool writing) const;
  // --refuse-writes-after: the command file takes no more writes.
  bool writes_refused() const;
  // The reply file's length as the host sees it now.
  uint64_t reply_size() const;
  // The sectors the device took from log entry from on: the device's latency, and a log line each.
  void take_sectors(size_t from);

  const CartsimOptions& options_;
  Device& device_;
  std::FILE* log_;
  bool gone_ = false;
  uint64_t reply_reads_ = 0;
  DriveStats stats_;
  std::chrono::steady_clock::time_point link_free_{};
};

}  // namespace cartdump::sim

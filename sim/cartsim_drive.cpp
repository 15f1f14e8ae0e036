#include "sim/cartsim_drive.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "link/sector.h"

namespace cartdump::sim {
namespace {

struct FileEntry {
  DriveFile file;
  const char* name;
};

constexpr FileEntry kFileNames[] = {
    {DriveFile::command, "CMD.CMD"},
    {DriveFile::reply, "T-DRIVER.DMP"},
    {DriveFile::dump, "DUMP.ROM"},
};

constexpr uint32_t kShortRead = 512;  // a read cut short delivers at most its first sector

}  // namespace

const char* drive_file_name(DriveFile file) {
  for (const FileEntry& entry : kFileNames) {
    if (entry.file == file) return entry.name;
  }
  return "";
}

DriveFile drive_file_at(std::string_view path) {
  if (!path.starts_with('/')) {
    return DriveFile::none;
  }
  path.remove_prefix(1);
  for (const FileEntry& entry : kFileNames) {
    if (path == entry.name) return entry.file;
  }
  return DriveFile::none;
}

SimDrive::SimDrive(const CartsimOptions& options, Device& device, std::FILE* log)
    : options_(options), device_(device), log_(log), gone_(options.fail_after == uint64_t{0}) {}

int SimDrive::refusal(DriveFile file, bool writing) const {
  if (file == DriveFile::none) {
    return -ENOENT;
  }
  if (gone_) {
    return -EIO;
  }
  if (writing && file != DriveFile::command) {
    return -EACCES;
  }
  return writing && writes_refused() ? -EROFS : 0;
}

bool SimDrive::writes_refused() const {
  return options_.refuse_writes_after && device_.accepted >= *options_.refuse_writes_after;
}

int64_t SimDrive::size(DriveFile file) const {
  if (gone_) {
    return -ENOENT;
  }
  switch (file) {
    case DriveFile::command: return static_cast<int64_t>(device_.command_file.size());
    case DriveFile::reply: return static_cast<int64_t>(reply_size());
    case DriveFile::dump: return static_cast<int64_t>(device_.dump_file.size());
    case DriveFile::none: break;
  }
  return -ENOENT;
}

uint64_t SimDrive::reply_size() const {
  const uint64_t full = device_.reply_file.size();
  if (options_.shrink_reply_after && device_.log.size() >= *options_.shrink_reply_after) {
    return std::min(full, options_.shrink_reply_to);
  }
  return full;
}

int SimDrive::open(DriveFile file, int flags) {
  if (const int refused = refusal(file, (flags & O_ACCMODE) != O_RDONLY)) {
    return refused;
  }
  if (options_.refuse_direct_io && (flags & O_DIRECT) != 0 && file != DriveFile::command) {
    return -EINVAL;
  }
  if (file == DriveFile::command && (flags & O_TRUNC)) {
    device_.truncate_command_file();
  }
  return 0;
}

int SimDrive::create(DriveFile file) {
  if (gone_) {
    return -EIO;
  }
  if (file != DriveFile::command) {
    return -EACCES;  // the drive holds its three files and nothing else
  }
  if (writes_refused()) {
    return -EROFS;
  }
  device_.truncate_command_file();
  return 0;
}

int SimDrive::truncate(DriveFile file, uint64_t length) {
  if (const int refused = refusal(file, true)) {
    return refused;
  }
  if (length == 0) {
    device_.truncate_command_file();
    return 0;
  }
  return length == device_.command_file.size() ? 0 : -EINVAL;
}

int SimDrive::read(DriveFile file, uint64_t offset, uint8_t* out, size_t size) {
  if (const int refused = refusal(file, false)) {
    return refused;
  }
  size_t n = 0;
  switch (file) {
    case DriveFile::reply: {
      if (options_.eintr_after && device_.log.size() >= *options_.eintr_after) {
        ++stats_.reads;
        ++stats_.interrupted_reads;
        return -EINTR;
      }
      ++reply_reads_;
      if (options_.flaky_every != 0 && reply_reads_ % options_.flaky_every == 0) {
        size = size > kShortRead ? kShortRead : size / 2;
        ++stats_.short_reads;
      }
      const uint64_t end = reply_size();
      n = offset < end ? device_.read_reply_file(offset, out, std::min<uint64_t>(size, end - offset)) : 0;
      break;
    }
    case DriveFile::dump:
      n = device_.read_dump_file(offset, out, size);
      break;
    case DriveFile::command: {
      // A read at or past the end delivers nothing; only an offset inside the file is used.
      const auto& bytes = device_.command_file;
      if (offset < bytes.size()) {
        n = std::min<size_t>(size, bytes.size() - offset);
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(offset), n, out);
      }
      break;
    }
    case DriveFile::none:
      break;
  }
  ++stats_.reads;
  stats_.bytes_served += n;
  transfer(n);
  return static_cast<int>(n);
}

int SimDrive::write(DriveFile file, uint64_t offset, const uint8_t* data, size_t size) {
  if (const int refused = refusal(file, true)) {
    return refused;
  }
  if (offset > kCommandFileLimit || size > kCommandFileLimit - offset) {
    return -EFBIG;
  }
  ++stats_.writes;
  transfer(size);
  // The device is fed up to one sector boundary at a time, so that an unplug after a given
  // sector leaves the rest of the write untaken.
  size_t done = 0;
  while (done < size) {
    const uint64_t at = offset + done;
    const size_t piece = std::min<uint64_t>(size - done, kSectorSize - at % kSectorSize);
    const size_t logged = device_.log.size();
    device_.write_command_file(at, data + done, piece);
    done += piece;
    stats_.bytes_taken += piece;
    take_sectors(logged);
    if (options_.fail_after && device_.log.size() >= *options_.fail_after) {
      gone_ = true;
      break;
    }
  }
  return done == size ? static_cast<int>(size) : -EIO;
}

void SimDrive::take_sectors(size_t from) {
  for (size_t i = from; i < device_.log.size(); ++i) {
    if (options_.latency_us != 0) {
      link_free_ = std::max(link_free_, std::chrono::steady_clock::now()) + std::chrono::microseconds(options_.latency_us);
    }
    if (log_ != nullptr) {
      const SectorRecord& r = device_.log[i];
      std::fprintf(log_, "group 0x%02X command 0x%02X address 0x%08X length %u %s\n", r.group, r.command,
                   r.address, r.length, outcome_name(r.outcome));
      std::fflush(log_);
    }
  }
}

void SimDrive::transfer(size_t bytes) {
  if (options_.latency_us == 0 && options_.bytes_per_sec == 0) {
    return;
  }
  const auto start = std::max(link_free_, std::chrono::steady_clock::now());
  const auto moving = options_.bytes_per_sec == 0
                          ? std::chrono::nanoseconds(0)
                          : std::chrono::nanoseconds(bytes * 1000000000ull / options_.bytes_per_sec);
  link_free_ = start + moving;
  // A sleep wakes up late by the scheduler's latency; the last stretch is waited out awake, so
  // that the link's time is its modelled time and not more.
  constexpr auto kAwake = std::chrono::microseconds(200);
  if (link_free_ - std::chrono::steady_clock::now() > kAwake) {
    std::this_thread::sleep_until(link_free_ - kAwake);
  }
  while (std::chrono::steady_clock::now() < link_free_) {
    std::this_thread::yield();
  }
}

std::string SimDrive::statistics() const {
  const std::string interrupted =
      stats_.interrupted_reads == 0 ? "" : ", " + std::to_string(stats_.interrupted_reads) + " interrupted";
  char text[512];
  std::snprintf(text, sizeof text,
                "cartsim: %llu commands accepted, %llu rejected; %llu bytes served in %llu reads "
                "(%llu cut short%s); %llu bytes taken in %llu writes%s",
                static_cast<unsigned long long>(device_.accepted), static_cast<unsigned long long>(device_.rejected),
                static_cast<unsigned long long>(stats_.bytes_served), static_cast<unsigned long long>(stats_.reads),
                static_cast<unsigned long long>(stats_.short_reads), interrupted.c_str(),
                static_cast<unsigned long long>(stats_.bytes_taken),
                static_cast<unsigned long long>(stats_.writes), gone_ ? "; the device was gone" : "");
  return text;
}

}  // namespace cartdump::sim

// File primitives on Linux and other POSIX hosts, where the device's FAT volume is mounted as a
// directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/file_io.h"
#include "link/posix_file.h"
#include "link/unbuffered_read.h"

namespace cartdump {
namespace {

char last_error[512];
bool cached_fallback = false;

void clear_error() { last_error[0] = '\0'; }

void record_error(const char* what, const char* path, int error) {
  std::snprintf(last_error, sizeof last_error, "%s %s: %s", what, path, posix_error_text(error));
}

// Closes a descriptor on every path out of a primitive.
struct Descriptor {
  int fd;
  explicit Descriptor(int value) : fd(value) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

ssize_t pread_retrying(int fd, void* buffer, size_t length, off_t offset) {
  return posix_retrying([&] { return ::pread(fd, buffer, length, offset); });
}

}  // namespace

const char* file_error_text() { return last_error; }

int file_cached_fallback() { return cached_fallback ? 1 : 0; }

int write_whole_file(const char* path, const uint8_t* buffer, uint32_t length) {
  clear_error();
  // A link planted at the name is not followed.
  const PosixOpen opened = posix_open_regular(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
  Descriptor file(opened.fd);
  if (file.fd < 0) {
    record_error("cannot create", path, opened.error);
    return 0;
  }
  uint32_t written = 0;
  while (written < length) {
    const ssize_t n = posix_retrying([&] { return ::write(file.fd, buffer + written, length - written); });
    if (n <= 0) {
      record_error("cannot write", path, n < 0 ? errno : EIO);
      return static_cast<int>(written);
    }
    written += static_cast<uint32_t>(n);
  }
  if (::fsync(file.fd) != 0 && errno != EINVAL && errno != EROFS) {
    // A file that cannot be flushed has not reached the drive.
    record_error("cannot flush", path, errno);
    return 0;
  }
  // A file whose close fails may not have reached the drive either.
  const int fd = file.fd;
  file.fd = -1;
  if (::close(fd) != 0) {
    record_error("cannot close", path, errno);
    return 0;
  }
  return static_cast<int>(written);
}

int read_file_unbuffered(const char* path, uint8_t* destination, uint32_t length, uint32_t offset) {
  clear_error();
  if (destination == nullptr) {
    return 0;
  }
  bool direct = true;
  PosixOpen opened = posix_open_regular(path, O_RDONLY | O_DIRECT);
  if (opened.error == EINVAL) {
    // The filesystem refuses direct I/O: read through the page cache, dropping the file's pages
    // before the read and after it, so that the read asks the device and the next one does too.
    direct = false;
    opened = posix_open_regular(path, O_RDONLY);
    if (opened.fd >= 0) {
      cached_fallback = true;
      ::posix_fadvise(opened.fd, 0, 0, POSIX_FADV_DONTNEED);
    }
  }
  Descriptor file(opened.fd);
  if (file.fd < 0) {
    record_error("cannot open", path, opened.error);
    return 0;
  }
  if (length == 0) {
    return 0;
  }

  // A cached read (no direct I/O) takes any alignment; a direct one may need a bounce buffer.
  UnbufferedRead plan = plan_unbuffered_read(destination, length, offset);
  if (!direct) {
    plan = {true, offset, length, 0};
  }
  ssize_t delivered;
  if (plan.straight) {
    delivered = pread_retrying(file.fd, destination, length, static_cast<off_t>(offset));
  } else {
    const BounceBuffer bounce = bounce_buffer(plan.span);
    if (!bounce) {
      record_error("no memory to read", path, ENOMEM);
      return 0;
    }
    const ssize_t got = pread_retrying(file.fd, bounce.get(), plan.span, static_cast<off_t>(plan.file_offset));
    delivered = got < 0 ? got : copy_from_bounce(plan, bounce.get(), static_cast<uint64_t>(got), destination, length);
  }
  if (delivered < 0) {
    record_error("cannot read", path, errno);
    return 0;
  }
  if (!direct) {
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_DONTNEED);
  }
  return static_cast<int>(delivered);
}

}  // namespace cartdump

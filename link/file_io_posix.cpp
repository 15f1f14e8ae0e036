// File primitives on Linux and other POSIX hosts, where the device's FAT volume is mounted as a
// directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/file_io.h"

namespace cartdump {
namespace {

// Unbuffered reads move whole blocks of this alignment, in memory and on the file: a multiple of
// every logical block size in use.
constexpr uint64_t kDirectAlignment = 4096;

char last_error[512];

void clear_error() { last_error[0] = '\0'; }

void record_error(const char* what, const char* path, int error) {
  std::snprintf(last_error, sizeof last_error, "%s %s: %s", what, path, std::strerror(error));
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

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

bool is_aligned(uint64_t value) { return value % kDirectAlignment == 0; }

ssize_t pread_retrying(int fd, void* buffer, size_t length, off_t offset) {
  ssize_t got;
  do {
    got = ::pread(fd, buffer, length, offset);
  } while (got < 0 && errno == EINTR);
  return got;
}

}  // namespace

const char* file_error_text() { return last_error; }

int write_whole_file(const char* path, const uint8_t* buffer, uint32_t length) {
  clear_error();
  Descriptor file(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (file.fd < 0) {
    record_error("cannot create", path, errno);
    return 0;
  }
  uint32_t written = 0;
  while (written < length) {
    const ssize_t n = ::write(file.fd, buffer + written, length - written);
    if (n < 0 && errno == EINTR) {
      continue;
    }
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
  return static_cast<int>(written);
}

int read_file_unbuffered(const char* path, uint8_t* destination, uint32_t length, uint32_t offset) {
  clear_error();
  if (destination == nullptr) {
    return 0;
  }
  bool direct = true;
  Descriptor file(::open(path, O_RDONLY | O_DIRECT | O_CLOEXEC));
  if (file.fd < 0 && errno == EINVAL) {
    // The filesystem refuses direct I/O: read through the page cache and drop the pages below,
    // so that the next read of the same offset asks the device again.
    direct = false;
    file.fd = ::open(path, O_RDONLY | O_CLOEXEC);
  }
  if (file.fd < 0) {
    record_error("cannot open", path, errno);
    return 0;
  }
  if (length == 0) {
    return 0;
  }

  // Direct reads need block-aligned memory, offsets and lengths. A request that already is aligned
  // goes straight into the caller's memory; any other goes through an aligned bounce buffer that
  // covers the whole blocks around it.
  const uint64_t start = offset;
  const uint64_t end = start + length;
  const uint64_t block_start = start - start % kDirectAlignment;
  const uint64_t block_end = (end + kDirectAlignment - 1) / kDirectAlignment * kDirectAlignment;
  const bool straight = !direct || (is_aligned(reinterpret_cast<uintptr_t>(destination)) &&
                                    is_aligned(start) && is_aligned(length));

  ssize_t delivered;
  if (straight) {
    delivered = pread_retrying(file.fd, destination, length, static_cast<off_t>(start));
  } else {
    const size_t span = static_cast<size_t>(block_end - block_start);
    std::unique_ptr<uint8_t, FreeDeleter> bounce(
        static_cast<uint8_t*>(std::aligned_alloc(kDirectAlignment, span)));
    if (!bounce) {
      record_error("no memory to read", path, ENOMEM);
      return 0;
    }
    const ssize_t got = pread_retrying(file.fd, bounce.get(), span, static_cast<off_t>(block_start));
    const uint64_t lead = start - block_start;
    delivered = got < 0 ? got
                        : static_cast<ssize_t>(std::min<uint64_t>(
                              length, static_cast<uint64_t>(got) > lead ? got - lead : 0));
    if (delivered > 0) {
      std::memcpy(destination, bounce.get() + lead, static_cast<size_t>(delivered));
    }
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

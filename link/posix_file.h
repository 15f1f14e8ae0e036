// The POSIX file calls that every file the system opens goes through: the file primitives of the
// drive file link (file_io_posix.cpp), and the tool's output image and reader lock.
//
// - An open never blocks and takes regular files alone: the file is opened with O_NONBLOCK (a FIFO
//   or a device node would otherwise hold open() until a writer or a medium comes), checked with
//   fstat, and O_NONBLOCK is cleared again. A FIFO, a device node, a directory or a socket at the
//   name is refused.
// - A read or write that the system interrupted (EINTR) or found not ready (EAGAIN) is tried again
//   a bounded number of times, then fails with that reason: a signal now and then never fails a
//   transfer, and a file that answers so forever cannot make the run spin.
// Included by POSIX files only.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace cartdump {

// Tries after the first: 100 more, a millisecond apart when the file is not ready.
inline constexpr int kIoRetries = 100;

// The reason of a refused open whose name is no regular file; not an errno value.
inline constexpr int kNotRegularFile = -1;

struct PosixOpen {
  int fd = -1;
  int error = 0;  // 0, the errno of a failed open, or kNotRegularFile
};

// Opens path with flags (O_CLOEXEC and, for the open alone, O_NONBLOCK added) and mode; the
// descriptor only when path is a regular file.
inline PosixOpen posix_open_regular(const char* path, int flags, mode_t mode = 0) {
  PosixOpen result;
  const int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  struct stat st{};
  int status = 0;
  if (::fstat(fd, &st) != 0) {
    result.error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    result.error = kNotRegularFile;
  } else if ((status = ::fcntl(fd, F_GETFL)) == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
    result.error = errno;
  } else {
    result.fd = fd;
    return result;
  }
  ::close(fd);
  return result;
}

// The text for an error of the calls here.
inline const char* posix_error_text(int error) {
  return error == kNotRegularFile ? "not a regular file" : std::strerror(error);
}

// Runs call (a read or a write returning a count, or -1 with errno) until it gives anything but
// EINTR or EAGAIN, at most 1 + kIoRetries times.
template <typename Call>
auto posix_retrying(Call call) {
  auto result = call();
  for (int retry = 0; retry < kIoRetries && result < 0 && (errno == EINTR || errno == EAGAIN); ++retry) {
    if (errno == EAGAIN) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    result = call();
  }
  return result;
}

}  // namespace cartdump

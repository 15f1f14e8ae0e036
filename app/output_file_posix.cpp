// The output file's calls on POSIX hosts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/output_file.h"
#include "link/posix_file.h"

namespace cartdump::output_os {

int create_new(const std::string& partial, intptr_t& handle, const char*& what) {
  // Mode 0644, less the umask.
  const PosixOpen opened = posix_open_regular(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
  if (opened.fd < 0) {
    what = "cannot create";
    return opened.error;
  }
  handle = opened.fd;
  return 0;
}

bool already_exists(int error) { return error == EEXIST; }

const char* not_regular(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return nullptr;
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISDIR(st.st_mode)) return "a directory";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "a device";
}

int write(intptr_t handle, const uint8_t* data, uint32_t length, const char*& what) {
  what = "cannot write";
  uint32_t done = 0;
  while (done < length) {
    const ssize_t n = posix_retrying([&] { return ::write(static_cast<int>(handle), data + done, length - done); });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<uint32_t>(n);
  }
  return 0;
}

int write_at(intptr_t handle, uint64_t offset, const uint8_t* data, uint32_t length, const char*& what) {
  what = "cannot write";
  uint32_t done = 0;
  while (done < length) {
    const ssize_t n = posix_retrying(
        [&] { return ::pwrite(static_cast<int>(handle), data + done, length - done, static_cast<off_t>(offset + done)); });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<uint32_t>(n);
  }
  return 0;
}

int take_permissions(intptr_t handle, const std::string& path, const char*& what) {
  struct stat earlier{};
  if (::stat(path.c_str(), &earlier) != 0 || !S_ISREG(earlier.st_mode)) return 0;
  if (::fchmod(static_cast<int>(handle), earlier.st_mode & 0777) != 0) {
    what = "cannot set the permissions of";
    return errno;
  }
  return 0;
}

// Linux starts the write-back of the range and returns; elsewhere the final flush does it all.
void start_flush(intptr_t handle, uint64_t offset, uint64_t length) {
#ifdef __linux__
  ::sync_file_range(static_cast<int>(handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                    SYNC_FILE_RANGE_WRITE);
#else
  (void)handle, (void)offset, (void)length;
#endif
}

int flush_and_close(intptr_t& handle, const char*& what) {
  const int fd = static_cast<int>(handle);
  handle = -1;
  // A folder that cannot flush (EINVAL, EROFS) still gets the bytes; its close tells the rest.
  int error = 0;
  if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
    what = "cannot flush";
    error = errno;
  }
  if (::close(fd) != 0 && error == 0) {
    what = "cannot close";
    error = errno;
  }
  return error;
}

void close_quietly(intptr_t& handle) {
  if (handle >= 0) ::close(static_cast<int>(handle));
  handle = -1;
}

int replace(const std::string& from, const std::string& to, const char*& what) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    what = "cannot rename to";
    return errno;
  }
  return 0;
}

void remove(const std::string& path) { ::unlink(path.c_str()); }

std::string error_text(int error) { return posix_error_text(error); }

}  // namespace cartdump::output_os

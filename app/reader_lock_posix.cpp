// The reader's lock on POSIX hosts: flock on "<name>.lock" in the first of $XDG_RUNTIME_DIR,
// /run/lock and /tmp where the lock file can be had. The file is opened as every file of the
// system is (link/posix_file.h: a regular file, an open that cannot block), and without following
// a link planted at its name. Its descriptor stays open, and so the lock held, until the process
// ends.
#include <sys/file.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/reader_lock.h"
#include "link/posix_file.h"

namespace cartdump {
namespace {

std::vector<std::string> lock_directories() {
  std::vector<std::string> directories;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') directories.emplace_back(runtime);
  directories.emplace_back("/run/lock");
  directories.emplace_back("/tmp");
  return directories;
}

// The lock file, created when missing; one made by another user (which a sticky directory may
// refuse to open with O_CREAT) is opened as it is.
PosixOpen open_lock_file(const std::string& path) {
  PosixOpen opened = posix_open_regular(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW, 0644);
  if (opened.error == EACCES) opened = posix_open_regular(path.c_str(), O_RDONLY | O_NOFOLLOW);
  return opened;
}

}  // namespace

ReaderLock reader_lock_os::take(const std::string& reader, std::string& error) {
  const std::string name = reader_lock_name(reader) + ".lock";
  error = "no directory for the lock file";
  for (const std::string& directory : lock_directories()) {
    const std::string path = directory + "/" + name;
    const PosixOpen opened = open_lock_file(path);
    if (opened.fd < 0) {
      error = "cannot open " + path + ": " + posix_error_text(opened.error);
      continue;
    }
    if (::flock(opened.fd, LOCK_EX | LOCK_NB) == 0) {
      return ReaderLock::taken;  // the descriptor stays open until the process ends
    }
    const int reason = errno;
    ::close(opened.fd);
    if (reason == EWOULDBLOCK) return ReaderLock::busy;
    error = "cannot lock " + path + ": " + posix_error_text(reason);
    return ReaderLock::failed;
  }
  return ReaderLock::failed;
}

}  // namespace cartdump

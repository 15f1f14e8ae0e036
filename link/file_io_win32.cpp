// File primitives on Windows, where the device is a removable drive with its own letter.
#include <windows.h>

#include <cstdio>
#include <string_view>

#include "link/file_io.h"
#include "link/unbuffered_read.h"

namespace cartdump {
namespace {

char last_error[512];

// The reason of a refused open whose name is no file on a disk: an application's own error code
// (bit 29 set), which the system never gives.
constexpr DWORD kNotDiskFile = 0x20000001;

void clear_error() { last_error[0] = '\0'; }

// "what path: the system's text for error", the text without its closing period and line break.
void record_error(const char* what, const char* path, DWORD error) {
  if (error == kNotDiskFile) {
    std::snprintf(last_error, sizeof last_error, "%s %s: not a regular file", what, path);
    return;
  }
  char reason[256];
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                             0, reason, sizeof reason, nullptr);
  while (n > 0 && std::string_view(". \r\n").find(reason[n - 1]) != std::string_view::npos) {
    --n;
  }
  reason[n] = '\0';
  if (n == 0) {
    std::snprintf(reason, sizeof reason, "error %lu", static_cast<unsigned long>(error));
  }
  std::snprintf(last_error, sizeof last_error, "%s %s: %s", what, path, reason);
}

// Closes a handle on every path out of a primitive.
struct Handle {
  HANDLE handle;
  explicit Handle(HANDLE value) : handle(value) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle);
    }
  }
  bool valid() const { return handle != INVALID_HANDLE_VALUE; }
  // Closes now; false when the close failed.
  bool close() {
    const HANDLE h = handle;
    handle = INVALID_HANDLE_VALUE;
    return ::CloseHandle(h) != FALSE;
  }
};

// Only files on a disk are used: a name that opened a device (a console, a serial port, a pipe)
// is closed again and refused.
HANDLE open_disk_file(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  const HANDLE file = ::CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
  if (file != INVALID_HANDLE_VALUE && ::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    ::SetLastError(kNotDiskFile);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// Positions the file at byte offset from its start; the offset may exceed 2 GiB.
bool seek_from_start(HANDLE file, uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  const DWORD low = ::SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  return low != INVALID_SET_FILE_POINTER || ::GetLastError() == NO_ERROR;
}

}  // namespace

const char* file_error_text() { return last_error; }

// Reads are always opened unbuffered here; a drive that refuses that fails the read instead.
int file_cached_fallback() { return 0; }

int write_whole_file(const char* path, const uint8_t* buffer, uint32_t length) {
  clear_error();
  Handle file(open_disk_file(path, GENERIC_WRITE, 0, CREATE_ALWAYS, 0));
  if (!file.valid()) {
    record_error("cannot create", path, ::GetLastError());
    return 0;
  }
  // A zero-length write still needs a valid buffer address.
  static const uint8_t nothing = 0;
  DWORD written = 0;
  if (!::WriteFile(file.handle, length > 0 ? buffer : &nothing, length, &written, nullptr)) {
    record_error("cannot write", path, ::GetLastError());
    return static_cast<int>(written);
  }
  if (written < length) {
    record_error("cannot write", path, ERROR_WRITE_FAULT);
    return static_cast<int>(written);
  }
  if (!::FlushFileBuffers(file.handle)) {
    // A file that cannot be flushed has not reached the drive.
    record_error("cannot flush", path, ::GetLastError());
    return 0;
  }
  // A file whose close fails may not have reached the drive either.
  if (!file.close()) {
    record_error("cannot close", path, ::GetLastError());
    return 0;
  }
  return static_cast<int>(written);
}

int read_file_unbuffered(const char* path, uint8_t* destination, uint32_t length, uint32_t offset) {
  clear_error();
  if (destination == nullptr) {
    return 0;
  }
  Handle file(open_disk_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                             FILE_FLAG_NO_BUFFERING));
  if (!file.valid()) {
    record_error("cannot open", path, ::GetLastError());
    return 0;
  }
  if (length == 0) {
    return 0;
  }

  const UnbufferedRead plan = plan_unbuffered_read(destination, length, offset);
  DWORD delivered = 0;
  if (plan.straight) {
    if (!seek_from_start(file.handle, offset) || !::ReadFile(file.handle, destination, length, &delivered, nullptr)) {
      record_error("cannot read", path, ::GetLastError());
      return 0;
    }
  } else {
    if (plan.span > MAXDWORD) {
      record_error("cannot read", path, ERROR_INVALID_PARAMETER);
      return 0;
    }
    const BounceBuffer bounce = bounce_buffer(plan.span);
    if (!bounce) {
      record_error("no memory to read", path, ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    DWORD got = 0;
    if (!seek_from_start(file.handle, plan.file_offset) ||
        !::ReadFile(file.handle, bounce.get(), static_cast<DWORD>(plan.span), &got, nullptr)) {
      record_error("cannot read", path, ::GetLastError());
      return 0;
    }
    delivered = copy_from_bounce(plan, bounce.get(), got, destination, length);
  }
  return static_cast<int>(delivered);
}

}  // namespace cartdump

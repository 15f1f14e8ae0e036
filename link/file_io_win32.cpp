// File primitives on Windows, where the device is a removable drive with its own letter.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "link/file_io.h"

namespace cartdump {
namespace {

// Unbuffered reads move whole sectors, in memory and on the file. 4096 is a multiple of every
// sector size a drive reports, and memory aligned to it meets every drive's alignment demand.
constexpr uint64_t kSectorAlignment = 4096;

char last_error[512];

void clear_error() { last_error[0] = '\0'; }

// "what path: the system's text for error", the text without its closing period and line break.
void record_error(const char* what, const char* path, DWORD error) {
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
};

struct AlignedDeleter {
  void operator()(void* p) const { ::_aligned_free(p); }
};

bool is_aligned(uint64_t value) { return value % kSectorAlignment == 0; }

// Positions the file at byte offset from its start; the offset may exceed 2 GiB.
bool seek_from_start(HANDLE file, uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  const DWORD low = ::SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  return low != INVALID_SET_FILE_POINTER || ::GetLastError() == NO_ERROR;
}

}  // namespace

const char* file_error_text() { return last_error; }

int write_whole_file(const char* path, const uint8_t* buffer, uint32_t length) {
  clear_error();
  Handle file(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
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
  return static_cast<int>(written);
}

int read_file_unbuffered(const char* path, uint8_t* destination, uint32_t length, uint32_t offset) {
  clear_error();
  if (destination == nullptr) {
    return 0;
  }
  Handle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_NO_BUFFERING, nullptr));
  if (!file.valid()) {
    record_error("cannot open", path, ::GetLastError());
    return 0;
  }
  if (length == 0) {
    return 0;
  }

  // Unbuffered reads need sector-aligned memory, offsets and lengths. A request that already is
  // aligned goes straight into the caller's memory; any other goes through an aligned bounce
  // buffer that covers the whole sectors around it.
  const uint64_t start = offset;
  const uint64_t end = start + length;
  const uint64_t block_start = start - start % kSectorAlignment;
  const uint64_t block_end = (end + kSectorAlignment - 1) / kSectorAlignment * kSectorAlignment;
  const bool straight =
      is_aligned(reinterpret_cast<uintptr_t>(destination)) && is_aligned(start) && is_aligned(length);

  DWORD delivered = 0;
  if (straight) {
    if (!seek_from_start(file.handle, start) ||
        !::ReadFile(file.handle, destination, length, &delivered, nullptr)) {
      record_error("cannot read", path, ::GetLastError());
      return 0;
    }
  } else {
    const uint64_t span = block_end - block_start;
    if (span > MAXDWORD) {
      record_error("cannot read", path, ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::unique_ptr<uint8_t, AlignedDeleter> bounce(
        static_cast<uint8_t*>(::_aligned_malloc(static_cast<size_t>(span), kSectorAlignment)));
    if (!bounce) {
      record_error("no memory to read", path, ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    DWORD got = 0;
    if (!seek_from_start(file.handle, block_start) ||
        !::ReadFile(file.handle, bounce.get(), static_cast<DWORD>(span), &got, nullptr)) {
      record_error("cannot read", path, ::GetLastError());
      return 0;
    }
    const uint64_t lead = start - block_start;
    delivered = static_cast<DWORD>(std::min<uint64_t>(length, got > lead ? got - lead : 0));
    if (delivered > 0) {
      std::memcpy(destination, bounce.get() + lead, delivered);
    }
  }
  return static_cast<int>(delivered);
}

}  // namespace cartdump

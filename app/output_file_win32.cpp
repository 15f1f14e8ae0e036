// The output file's calls on Windows.
#include <windows.h>

#include <cstdio>
#include <string_view>

#include "app/output_file.h"

namespace cartdump::output_os {
namespace {

HANDLE as_handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

int create_new(const std::string& partial, intptr_t& handle, const char*& what) {
  const HANDLE file =
      ::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    what = "cannot create";
    return static_cast<int>(::GetLastError());
  }
  handle = reinterpret_cast<intptr_t>(file);
  return 0;
}

bool already_exists(int error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

const char* not_regular(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return nullptr;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "a directory";
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return "a device";
  return nullptr;
}

int write(intptr_t handle, const uint8_t* data, uint32_t length, const char*& what) {
  what = "cannot write";
  uint32_t done = 0;
  while (done < length) {
    DWORD n = 0;
    if (!::WriteFile(as_handle(handle), data + done, length - done, &n, nullptr)) {
      return static_cast<int>(::GetLastError());
    }
    if (n == 0) return ERROR_WRITE_FAULT;
    done += n;
  }
  return 0;
}

// A positioned write; the file pointer, which the writes that append use, is put back after it.
int write_at(intptr_t handle, uint64_t offset, const uint8_t* data, uint32_t length, const char*& what) {
  what = "cannot write";
  const HANDLE file = as_handle(handle);
  LARGE_INTEGER here{};
  if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &here, FILE_CURRENT)) return static_cast<int>(::GetLastError());
  uint32_t done = 0;
  int error = 0;
  while (done < length && error == 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>((offset + done) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD n = 0;
    if (!::WriteFile(file, data + done, length - done, &n, &at)) {
      error = static_cast<int>(::GetLastError());
    } else if (n == 0) {
      error = ERROR_WRITE_FAULT;
    }
    done += n;
  }
  if (!::SetFilePointerEx(file, here, nullptr, FILE_BEGIN) && error == 0) error = static_cast<int>(::GetLastError());
  return error;
}

// Windows has no plain call that starts the write-back of a range without waiting for it: the
// final FlushFileBuffers writes everything.
void start_flush(intptr_t, uint64_t, uint64_t) {}

// Windows keeps no permission bits of the POSIX kind; the new image takes the default ones.
int take_permissions(intptr_t, const std::string&, const char*&) { return 0; }

int flush_and_close(intptr_t& handle, const char*& what) {
  const HANDLE file = as_handle(handle);
  handle = -1;
  int error = 0;
  if (!::FlushFileBuffers(file)) {
    what = "cannot flush";
    error = static_cast<int>(::GetLastError());
  }
  if (!::CloseHandle(file) && error == 0) {
    what = "cannot close";
    error = static_cast<int>(::GetLastError());
  }
  return error;
}

void close_quietly(intptr_t& handle) {
  if (handle != -1) ::CloseHandle(as_handle(handle));
  handle = -1;
}

int replace(const std::string& from, const std::string& to, const char*& what) {
  if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    what = "cannot rename to";
    return static_cast<int>(::GetLastError());
  }
  return 0;
}

void remove(const std::string& path) { ::DeleteFileA(path.c_str()); }

std::string error_text(int error) {
  char reason[256];
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, reason, sizeof reason, nullptr);
  while (n > 0 && std::string_view(". \r\n").find(reason[n - 1]) != std::string_view::npos) --n;
  if (n == 0) return "error " + std::to_string(error);
  return std::string(reason, n);
}

}  // namespace cartdump::output_os

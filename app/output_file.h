// The image file a dump writes: a partial file beside the output, written chunk by chunk as the
// image arrives, flushed, closed and renamed over the output only once it is complete, so that a
// failed or interrupted dump never leaves a partial image under the output's name nor damages an
// earlier one. The platform's calls are in output_file_posix.cpp and output_file_win32.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace cartdump {

struct OutputFile {
  std::string path;      // the output's name, as given
  std::string partial;   // the partial file beside it; empty while none exists
  intptr_t handle = -1;  // the partial file's open handle; -1 when closed
  uint64_t written = 0;  // bytes written to the partial file so far
  std::string error;     // why the last call failed: the operation, the path and the system's reason
};

// Creates the partial file for path. Returns false, with error set, when it cannot be made.
bool output_create(OutputFile& file, const std::string& path);

// Appends length bytes. Returns false, with error set, unless all of them were written.
bool output_write(OutputFile& file, const uint8_t* data, uint32_t length);

// Replaces length bytes at offset, all within what was written. Returns false, with error set,
// unless all of them were written.
bool output_write_at(OutputFile& file, uint64_t offset, const uint8_t* data, uint32_t length);

// Starts writing to the disk the length bytes at offset that were written, without waiting for
// them, so that the flush of output_commit finds little left to do. Where the platform has no such
// call it does nothing.
void output_start_flush(OutputFile& file, uint64_t offset, uint64_t length);

// Flushes the partial file to the disk, closes it and renames it over the output. Returns false,
// with error set and the partial file removed, when any of that fails.
bool output_commit(OutputFile& file);

// Closes and removes the partial file, if there is one; the output is left as it was.
void output_discard(OutputFile& file);

// The platform's side, for output_file.cpp. Each returns 0 on success, or the system's error code
// with the failing operation's name in what.
namespace output_os {
int create(const std::string& partial, intptr_t& handle, const char*& what);
int write(intptr_t handle, const uint8_t* data, uint32_t length, const char*& what);
int write_at(intptr_t handle, uint64_t offset, const uint8_t* data, uint32_t length, const char*& what);
void start_flush(intptr_t handle, uint64_t offset, uint64_t length);
int flush_and_close(intptr_t& handle, const char*& what);  // closes on every path
void close_quietly(intptr_t& handle);
int replace(const std::string& from, const std::string& to, const char*& what);
void remove(const std::string& path);
std::string error_text(int error);
}  // namespace output_os

}  // namespace cartdump

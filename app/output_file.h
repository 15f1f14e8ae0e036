// The image file a dump writes: a partial file beside the output, written chunk by chunk as the
// image arrives, flushed, closed and renamed over the output only once it is complete, so that a
// failed or interrupted dump never leaves a partial image under the output's name nor damages an
// earlier one.
//
// The partial file is always new: it is created under a name of its own beside the output
// ("Dump16M.n64.k3Xw9q.part"), with O_CREAT|O_EXCL|O_NOFOLLOW (CREATE_NEW on Windows), so that no
// file or link found at a name is ever opened, written through or renamed into place; a leftover
// of an earlier run is left alone. The output itself must be a regular file or absent: a FIFO, a
// device or a directory at its name is refused before anything is created. Every close is
// checked; a failed close is a failed write. The new image takes the permission bits of the
// earlier one it replaces (POSIX). The platform's calls are in output_file_posix.cpp and
// output_file_win32.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace cartdump {

struct OutputFile {
  std::string path;      // the output's name; may be changed before output_commit, in the same directory
  std::string partial;   // the partial file beside it; empty while none exists
  intptr_t handle = -1;  // the partial file's open handle; -1 when closed
  uint64_t written = 0;  // bytes written to the partial file so far
  std::string error;     // why the last call failed: the operation, the path and the system's reason
};

// Creates the partial file for path ("<path>.XXXXXX.part"). Returns false, with error set, when
// the output is no regular file or the partial file cannot be made.
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

// Gives the partial file the permission bits of an earlier file at path, flushes it to the disk,
// closes it and renames it over path. Returns false, with error set and the partial file removed,
// when any of that fails.
bool output_commit(OutputFile& file);

// Closes and removes the partial file, if there is one; the output is left as it was.
void output_discard(OutputFile& file);

// The platform's side, for output_file.cpp. Each returns 0 on success, or the system's error code
// with the failing operation's name in what.
namespace output_os {
// Creates a new file at partial, never opening an existing name or following a link.
int create_new(const std::string& partial, intptr_t& handle, const char*& what);
// Whether an error of create_new says that the name exists.
bool already_exists(int error);
// What stands at path when it is neither absent nor a regular file ("a FIFO", "a directory",
// "a device", "a socket"); null otherwise.
const char* not_regular(const std::string& path);
int write(intptr_t handle, const uint8_t* data, uint32_t length, const char*& what);
int write_at(intptr_t handle, uint64_t offset, const uint8_t* data, uint32_t length, const char*& what);
void start_flush(intptr_t handle, uint64_t offset, uint64_t length);
// Gives the open file the permission bits of the regular file at path, if there is one.
int take_permissions(intptr_t handle, const std::string& path, const char*& what);
int flush_and_close(intptr_t& handle, const char*& what);  // closes on every path
void close_quietly(intptr_t& handle);
int replace(const std::string& from, const std::string& to, const char*& what);
void remove(const std::string& path);
std::string error_text(int error);
}  // namespace output_os

}  // namespace cartdump

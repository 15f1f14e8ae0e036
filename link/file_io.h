// The two file primitives beneath the drive file link and the output image. Each call opens its
// file, uses it and closes it on every path; nothing stays open between calls. They use regular
// files alone: a FIFO, a device or a directory at the name is refused, and no open can block on
// one. On POSIX hosts a read or write that is interrupted or not ready is tried again a bounded
// number of times (link/posix_file.h). One implementation per platform (file_io_posix.cpp,
// file_io_win32.cpp).
#pragma once

#include <cstdint>

namespace cartdump {

// Creates path, or truncates it, and writes length bytes from buffer, made durable before the
// file is closed (a device drive sees only what reaches it). Returns the bytes written, 0 when the
// file cannot be created, flushed or closed. A link at path is not followed (POSIX).
int write_whole_file(const char* path, const uint8_t* buffer, uint32_t length);

// Reads length bytes at byte offset of an existing file into destination, bypassing the host's
// file cache, so that every read is served by the device itself. Any offset and any length work.
// Returns the bytes delivered: 0 for a null destination (no file is touched), for a file that
// cannot be opened, or for a failed read; fewer than length when the file ends first.
int read_file_unbuffered(const char* path, uint8_t* destination, uint32_t length, uint32_t offset);

// 1 once a read of this process went through the host's file cache because the drive refused to
// bypass it (the cached fallback), 0 until then. Such a read drops the file's cached pages before
// and after it, so that the device is asked; a page another program reads in between may still
// answer in its place, so replies read this way may be stale.
int file_cached_fallback();

// The system's text for the last failure of a primitive above ("" when the last call met none):
// the reason a caller names when a command or a read did not get through.
const char* file_error_text();

}  // namespace cartdump

// One n64dump run owns the reader: every reply lands at offset 0 of the one reply file, so two runs
// on one reader would read each other's replies. A run takes the reader's lock after discovery has
// found the reader and before it sends the reader anything, and holds it until the process ends;
// the system lets go of it then, also after a crash.
//
// The lock guards n64dump runs against each other. The library's single operations stay
// lock-free: another program that drives the reader meanwhile is not held off.
//
// On POSIX hosts the lock is an advisory lock (flock) on a lock file named after the reader, in
// $XDG_RUNTIME_DIR, else /run/lock, else /tmp; on Windows a named mutex, "Local\" and the same
// name. The platform's side is in reader_lock_posix.cpp and reader_lock_win32.cpp.
#pragma once

#include <string>

namespace cartdump {

enum class ReaderLock : int { taken, busy, failed };

// Takes the lock on the reader that reader names (its drive root or HID device path) for the rest
// of the process. busy: another run holds it; failed: it could not be had, the reason in error.
// A process that holds the lock already has it again (a second dump in one process).
ReaderLock reader_lock_take(const std::string& reader, std::string& error);

// The lock's name for a reader: "n64dump-reader-" and 16 hexadecimal digits of a hash of its
// path, a name that any file system and the system's object names take.
std::string reader_lock_name(const std::string& reader);

// The platform's side: takes the lock for the rest of the process.
namespace reader_lock_os {
ReaderLock take(const std::string& reader, std::string& error);
}  // namespace reader_lock_os

}  // namespace cartdump

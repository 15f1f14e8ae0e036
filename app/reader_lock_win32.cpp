// The reader's lock on Windows: a named mutex, "Local\" and the lock's name, owned by this run.
// Its handle stays open until the process ends; the system then lets go of the mutex, also after
// a crash (the next run finds it abandoned and takes it).
#include <windows.h>

#include "app/output_file.h"
#include "app/reader_lock.h"

namespace cartdump {

ReaderLock reader_lock_os::take(const std::string& reader, std::string& error) {
  const std::string name = "Local\\" + reader_lock_name(reader);
  const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) {
    error = "cannot create the mutex " + name + ": " + output_os::error_text(static_cast<int>(::GetLastError()));
    return ReaderLock::failed;
  }
  switch (::WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      return ReaderLock::taken;  // the handle stays open until the process ends
    case WAIT_TIMEOUT:
      ::CloseHandle(mutex);
      return ReaderLock::busy;
    default:
      error = "cannot take the mutex " + name + ": " + output_os::error_text(static_cast<int>(::GetLastError()));
      ::CloseHandle(mutex);
      return ReaderLock::failed;
  }
}

}  // namespace cartdump

#include <windows.h>

#include <string>

#include "app/paths.h"

namespace cartdump {

std::string default_catalogue_path() {
  // The executable's own path, in a buffer grown until it holds the whole of it.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return "";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t separator = path.find_last_of("\\/");
  return (separator == std::string::npos ? std::string() : path.substr(0, separator + 1)) + "mupen64plus.ini";
}

}  // namespace cartdump

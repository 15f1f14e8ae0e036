#include "app/reader_lock.h"

#include <cstdint>
#include <cstdio>

namespace cartdump {

std::string reader_lock_name(const std::string& reader) {
  // FNV-1a, 64 bits.
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : reader) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  }
  char name[40];
  std::snprintf(name, sizeof name, "n64dump-reader-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace cartdump

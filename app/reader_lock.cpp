#include "app/reader_lock.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>

namespace cartdump {
namespace {

// The readers whose lock this process holds.
std::mutex held_guard;
std::set<std::string> held;

}  // namespace

ReaderLock reader_lock_take(const std::string& reader, std::string& error) {
  const std::lock_guard<std::mutex> guard(held_guard);
  if (held.contains(reader)) return ReaderLock::taken;
  const ReaderLock result = reader_lock_os::take(reader, error);
  if (result == ReaderLock::taken) held.insert(reader);
  return result;
}

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

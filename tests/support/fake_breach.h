// What the fakes of the host (fake_hid, memory_drive, fake_drive_walk) do when the code under test
// breaks the host's side of a contract: a buffer shorter than it claims, a lock taken twice, a
// handle that was never handed out. The fakes build without GoogleTest; whoever links them picks
// the breach's effect by linking one of two definitions of fake_breach:
//   - fake_breach_gtest.cpp (the unit tests): a GoogleTest failure, and the fake goes on with a
//     failure result;
//   - fake_breach_abort.cpp (the fuzz targets): the breach is printed and the process aborts, which
//     libFuzzer reports as a finding.
#pragma once

#include <cstdint>
#include <string>

namespace cartdump::test {

void fake_breach(const std::string& what);

// condition; a breach named by what when it does not hold.
inline bool fake_holds(bool condition, const char* what) {
  if (!condition) {
    fake_breach(what);
  }
  return condition;
}

// Whether the caller's [data, data + length) may be touched. A null pointer for a length is a
// breach; every byte is read, so that AddressSanitizer (the sanitizer and fuzz builds) or valgrind
// names the first one that is not the caller's.
bool fake_addressable(const void* data, uint64_t length, const char* what);

}  // namespace cartdump::test

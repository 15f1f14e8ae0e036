// The fuzz targets' breach: printed, then an abort, which libFuzzer reports as a finding and saves
// the input that caused it.
#include <cstdio>
#include <cstdlib>

#include "tests/support/fake_breach.h"

namespace cartdump::test {

void fake_breach(const std::string& what) {
  std::fprintf(stderr, "the host's contract is broken: %s\n", what.c_str());
  std::abort();
}

}  // namespace cartdump::test

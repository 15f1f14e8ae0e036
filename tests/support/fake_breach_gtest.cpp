// The unit tests' breach: a failure of the running test.
#include <gtest/gtest.h>

#include "tests/support/fake_breach.h"

namespace cartdump::test {

void fake_breach(const std::string& what) { ADD_FAILURE() << "the host's contract is broken: " << what; }

}  // namespace cartdump::test

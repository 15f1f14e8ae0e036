#include "tests/support/fake_breach.h"

namespace cartdump::test {

bool fake_addressable(const void* data, uint64_t length, const char* what) {
  if (length == 0) {
    return true;
  }
  if (data == nullptr) {
    fake_breach(std::string(what) + ": null for " + std::to_string(length) + " bytes");
    return false;
  }
  const auto* bytes = static_cast<const volatile uint8_t*>(data);
  for (uint64_t i = 0; i < length; ++i) {
    (void)bytes[i];
  }
  return true;
}

}  // namespace cartdump::test

// The scrambling state is process-wide and, once XOR mode is on, stays so for the process: tests
// put it back to its start-up value (all zero) around each case.
#pragma once

#include "carts/cipher.h"
#include "carts/scrambling.h"

namespace cartdump::test {

inline void reset_scrambling_state() {
  payload_cipher = PayloadCipher{};
  xor_mode = 0;
  xor_key.fill(0);
}

}  // namespace cartdump::test

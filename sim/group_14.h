// Group 0x14 on the device: a cartridge with banked memory and a register pair.
//
// Memory: 1 MiB in sixteen 64 KiB banks. A byte's address is bank << 16 | offset (bank = address
// bits 16-23); the cartridge decodes bank bits 0-3 only, so banks 0x10 and up repeat banks 0-15.
// Commands that name a bank latch it and run a 16-bit offset counter, so their bytes wrap within
// the bank; command 0x08 carries a full address instead and runs on across banks.
//   0x01 prepare;
//   0x02 start a new register session (byte 3 = 1: the value at 4 is kept as command_02_value);
//   0x03 read: bank at 4, offset at 6-7, length at 8-9 (at most the 8192-byte reply area);
//   0x04 entry list: count at 8-9 (at most 124), entries (value, bank, offset low, high) from 12;
//   0x05 and 0x06 write: selector at 3, bank at 4, offset at 6-7, length at 8-9, data from 12
//     (0x06 at most 256 bytes); every byte is added to the selector's 8-bit sum;
//   0x07 selector at 3: answers the selector's 8-bit sum of the bytes written under it;
//   0x08 write: 32-bit address at 4-7 (bits 0-23 used), length at 8-11, data from 12.
//
// The register pair: 0x2400 (data port) and 0x2401 (control port) in bank 0, reached by every read
// and write of those two addresses. One exchange is:
//   0x2400 <- 0x09                 opens it;
//   read 0x2400                    the greeting: "}" when brace_greeting is set, else the status;
//   0x2401 <- 0x28, 0x2401 <- 0x84 the control pair;
//   0x2400 <- 0x06, 0x2400 <- 0x39 only after a "}" greeting;
//   0x2400 <- v                    the value; the exchange is answered;
//   read 0x2400                    the answer: the status for v = 4, `version` for v = 1, v itself
//                                  for any other value.
// The status is "*" (ready) once `star_after` exchanges have been answered since the last command
// 0x02 (or since start), and "." (busy) before; with star_after = kNever it is never "*". A read of
// 0x2400 outside an exchange answers the status. An exchange that leaves these steps is broken: it
// is counted in `broken`, and reads of 0x2400 answer 0xFF until 0x09 opens the next exchange or
// command 0x02 starts a new session. Every access of the pair is kept in the transcript.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/bus_access.h"

namespace cartdump::sim {

inline constexpr uint32_t kBankedSize = 0x100000;
inline constexpr uint32_t kDataPort = 0x2400;
inline constexpr uint32_t kControlPort = 0x2401;
inline constexpr int kNever = -1;
inline constexpr uint8_t kStar = 0x2A;   // "*"
inline constexpr uint8_t kBusy = 0x2E;   // "."
inline constexpr uint8_t kBrace = 0x7D;  // "}"
inline constexpr uint8_t kNoAnswer = 0xFF;

struct RegisterPair {
  // How the pair answers; tests change these.
  int star_after = 0;
  bool brace_greeting = false;
  uint8_t version = 4;

  enum class Phase : uint8_t { idle, opened, steps, value, answered, broken };
  Phase phase = Phase::idle;
  std::vector<BusAccess> expected;  // the steps between the greeting and the value
  size_t step = 0;
  uint8_t answer = 0;
  uint8_t control = 0;  // the last byte written at 0x2401
  uint32_t answered = 0;  // exchanges answered in this session
  uint32_t broken = 0;
  std::vector<BusAccess> transcript;

  uint8_t status() const;
  uint8_t read(uint32_t address);
  void write(uint32_t address, uint8_t value);
  void start_session();
};

struct BankedCart {
  BankedCart();

  std::vector<uint8_t> memory;  // kBankedSize bytes, filled with banked_fill_byte at start
  RegisterPair registers;
  bool ready = false;           // set by command 0x01
  int command_02_value = -1;    // the value of the last command 0x02 that carried one
  std::array<uint8_t, 256> selector_sums{};

  uint8_t& at(uint32_t address) { return memory[address & (kBankedSize - 1)]; }
  // A byte at a 24-bit address: the register pair at 0x2400/0x2401, memory elsewhere.
  uint8_t read(uint32_t address);
  void write(uint32_t address, uint8_t value);
};

uint8_t banked_fill_byte(uint32_t address);

}  // namespace cartdump::sim

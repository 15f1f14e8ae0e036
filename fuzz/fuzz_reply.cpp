// The reply path: every read of the reply and dump files, and every operation that takes a reply,
// over reply and dump files of any size, at any offset, with reads cut short anywhere (a flaky
// cable, a device that goes away). What arrives is compared with a plain reading of the link:
//   - a read of up to 1024 bytes is one 1024-byte read cut down: the bytes not delivered arrive as
//     zeros, and the count is at most the length asked for;
//   - a longer read goes straight into the destination, which keeps what it held where nothing
//     arrived;
//   - a ranged read returns the sum of what its requests delivered, so it returns its length only
//     when every request came back whole: the dump relies on this never to take a short reply for
//     cartridge data;
//   - a request whose command file was not written in full (a full or write-protected medium)
//     delivers nothing and ends the ranged read: its reply, an earlier one, is never read, and the
//     link's error names the failed write;
//   - single reads return the reply bytes they name, zero where nothing arrived.
// Destinations are buffers of exactly the length given, so a write past one is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

#include "carts/group_07.h"
#include "carts/group_0e.h"
#include "carts/group_0f.h"
#include "carts/group_10.h"
#include "carts/group_11.h"
#include "carts/group_13.h"
#include "carts/group_14.h"
#include "fuzz/support/fuzz_check.h"
#include "link/device_link.h"
#include "link/device_state.h"
#include "link/file_io.h"
#include "link/sector.h"
#include "link/service.h"
#include "tests/support/memory_drive.h"

namespace cartdump::fuzz {
namespace {

using namespace test;

constexpr uint8_t kUntouched = 0xA5;
const std::string kRoot = "E:\\";

// The link as it should behave -----------------------------------------------------------------------

struct Reference {
  const std::vector<uint8_t>* reply = nullptr;
  const std::vector<uint8_t>* dump = nullptr;
  std::deque<uint32_t> limits;
  std::deque<uint32_t> write_limits;

  // Whether the next command file is written whole.
  bool sent() {
    if (write_limits.empty()) return true;
    const uint32_t n = write_limits.front();
    write_limits.pop_front();
    return n >= kSectorSize;
  }

  uint32_t deliver(const std::vector<uint8_t>* file, uint32_t offset, uint32_t length) {
    uint32_t n = memory_drive_available(file->size(), offset, length);
    if (!limits.empty()) {
      n = std::min(n, limits.front());
      limits.pop_front();
    }
    return n;
  }

  // destination holds what it held before; the read's effect is applied to it.
  int read(const std::vector<uint8_t>* file, uint32_t offset, uint8_t* destination, uint32_t length) {
    if (length > kReplyBlockSize) {
      if (file == nullptr) return 0;
      const uint32_t n = deliver(file, offset, length);
      if (n > 0) std::copy_n(file->begin() + offset, n, destination);
      return static_cast<int>(n);
    }
    std::array<uint8_t, kReplyBlockSize> block{};
    uint32_t n = 0;
    if (file != nullptr) {
      n = deliver(file, offset, kReplyBlockSize);
      if (n > 0) std::copy_n(file->begin() + offset, n, block.begin());
    }
    std::copy_n(block.begin(), length, destination);
    return static_cast<int>(std::min(n, length));
  }

  // A ranged read: requests of at most 8192 bytes, each reply from offset 0 of the reply file.
  // requests counts the commands sent or tried.
  uint32_t ranged(uint8_t* destination, uint32_t length, size_t& requests) {
    uint32_t delivered = 0;
    requests = 0;
    for (uint64_t offset = 0; offset < length; offset += 8192) {
      const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(8192, length - offset));
      ++requests;
      if (!sent()) break;
      const int n = read(reply, 0, destination + offset, chunk);
      delivered += n > 0 ? static_cast<uint32_t>(n) : 0;
    }
    return delivered;
  }

  // The first bytes of a single read's reply of `length` bytes.
  std::array<uint8_t, 4> single(uint32_t length) {
    sent();  // a single read takes its reply whatever its send gave
    std::vector<uint8_t> block(kReplyBlockSize, 0);
    read(reply, 0, block.data(), length);
    return {block[0], block[1], block[2], block[3]};
  }
};

// Operations ------------------------------------------------------------------------------------------

struct RangedRead {
  const char* name;
  uint32_t max_length;
  uint32_t (*run)(uint32_t address, uint8_t* destination, uint32_t length);
};

const RangedRead kRangedReads[] = {
    {"n64_read", 0xFFFFFFFF, n64_read},
    {"g07_read", 0xFFFFFFFF, g07_read},
    {"g0f_read", 0xFFFFFFFF, g0f_read},
    {"g0f_read_09", 0xFFFFFFFF, g0f_read_09},
    {"g13_read", 0xFFFFFFFF, g13_read},
    {"g14_read", 0xFFFFFFFF, g14_read},
    {"g0e_read_04", 0xFFFF, [](uint32_t a, uint8_t* d, uint32_t n) { return g0e_read_04(uint16_t(a), d, uint16_t(n)); }},
    {"g0e_read_07", 0xFFFF, [](uint32_t a, uint8_t* d, uint32_t n) { return g0e_read_07(uint16_t(a), d, uint16_t(n)); }},
};

// A single read and the value its reply bytes give: bytes is the reply read's length.
struct SingleRead {
  const char* name;
  uint32_t reply_length;
  uint32_t (*run)(uint32_t address);
  uint32_t (*value)(const std::array<uint8_t, 4>& reply);
};

uint32_t first_byte(const std::array<uint8_t, 4>& r) { return r[0]; }

const SingleRead kSingleReads[] = {
    {"n64_read_word", 512, [](uint32_t a) -> uint32_t { return n64_read_word(a); },
     [](const std::array<uint8_t, 4>& r) -> uint32_t { return r[0] | r[1] << 8; }},
    {"g13_read_word", 512, [](uint32_t a) -> uint32_t { return g13_read_word(a); },
     [](const std::array<uint8_t, 4>& r) -> uint32_t { return r[0] << 8 | r[1]; }},
    {"g07_read_byte", 1024, [](uint32_t a) -> uint32_t { return g07_read_byte(a); }, first_byte},
    {"g0f_read_byte", 1024, [](uint32_t a) -> uint32_t { return g0f_read_byte(a); }, first_byte},
    {"g0f_read_byte_09", 1024, [](uint32_t a) -> uint32_t { return g0f_read_byte_09(a); }, first_byte},
    {"g14_read_byte", 1024, [](uint32_t a) -> uint32_t { return g14_read_byte(a); }, first_byte},
    {"g14_command_07", 1024, [](uint32_t a) -> uint32_t { return g14_command_07(uint8_t(a)); }, first_byte},
    {"g0e_read_byte_04", 512, [](uint32_t a) -> uint32_t { return g0e_read_byte_04(uint16_t(a)); }, first_byte},
    {"g0e_read_byte_07", 512, [](uint32_t a) -> uint32_t { return g0e_read_byte_07(uint16_t(a)); }, first_byte},
    {"g0e_read_status", 512, [](uint32_t) -> uint32_t { return g0e_read_status(); }, first_byte},
    {"dev_read_value", 2, dev_read_value, [](const std::array<uint8_t, 4>& r) -> uint32_t { return r[0] | r[1] << 8; }},
};

uint32_t consume_offset(FuzzedDataProvider& in) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 80000) : in.ConsumeIntegral<uint32_t>();
}

uint32_t consume_length(FuzzedDataProvider& in, uint32_t max_length) {
  constexpr uint32_t kEdges[] = {0, 1, 2, 512, 1023, 1024, 1025, 8191, 8192, 8193, 16384, 16385};
  if (in.ConsumeBool()) return std::min(in.PickValueInArray(kEdges), max_length);
  return in.ConsumeIntegralInRange<uint32_t>(0, std::min<uint32_t>(40000, max_length));
}

std::unique_ptr<uint8_t[]> untouched_buffer(uint32_t length) {
  auto buffer = std::make_unique<uint8_t[]>(std::max<uint32_t>(length, 1));
  std::fill_n(buffer.get(), length, kUntouched);
  return buffer;
}

void compare(const char* name, const uint8_t* got, const std::vector<uint8_t>& expected) {
  for (size_t i = 0; i < expected.size(); ++i) {
    FUZZ_CHECK(got[i] == expected[i], "%s: destination byte %zu is 0x%02X, expected 0x%02X", name, i, got[i],
               expected[i]);
  }
}

void run_one(FuzzedDataProvider& in, Reference& ref) {
  switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: {  // read_reply / read_dump
      const bool dump = in.ConsumeBool();
      const uint32_t offset = consume_offset(in);
      const uint32_t length = consume_length(in, 0xFFFFFFFF);
      auto got = untouched_buffer(length);
      std::vector<uint8_t> expected(length, kUntouched);
      const int want = ref.read(dump ? ref.dump : ref.reply, offset, expected.data(), length);
      const int n = dump ? read_dump(offset, got.get(), length) : read_reply(offset, got.get(), length);
      const char* name = dump ? "read_dump" : "read_reply";
      FUZZ_CHECK(n >= 0 && static_cast<uint32_t>(n) <= length, "%s of %u bytes gave %d", name, length, n);
      FUZZ_CHECK(n == want, "%s of %u bytes at %u gave %d, expected %d", name, length, offset, n, want);
      compare(name, got.get(), expected);
      return;
    }
    case 1: {  // a ranged read
      const RangedRead& r = kRangedReads[in.ConsumeIntegralInRange<size_t>(0, std::size(kRangedReads) - 1)];
      const uint32_t address = in.ConsumeIntegral<uint32_t>();
      const uint32_t length = consume_length(in, r.max_length);
      auto got = untouched_buffer(length);
      std::vector<uint8_t> expected(length, kUntouched);
      size_t want_requests = 0;
      const uint32_t want = ref.ranged(expected.data(), length, want_requests);
      const size_t writes_before = memory_drive_writes().size();
      const uint32_t n = r.run(address, got.get(), length);
      FUZZ_CHECK(n <= length, "%s of %u bytes delivered %u", r.name, length, n);
      FUZZ_CHECK(n == want, "%s of %u bytes delivered %u, expected %u", r.name, length, n, want);
      const size_t requests = memory_drive_writes().size() - writes_before;
      FUZZ_CHECK(requests == want_requests, "%s: %zu requests for %u bytes, expected %zu", r.name, requests, length,
                 want_requests);
      const std::vector<FileCall>& calls = memory_drive_calls();
      if (requests > 0 && calls.back().write && calls.back().result != static_cast<int>(kSectorSize)) {
        FUZZ_CHECK(std::string_view(file_error_text()).starts_with("cannot write "),
                   "%s: after a failed send the error is \"%s\"", r.name, file_error_text());
      }
      compare(r.name, got.get(), expected);
      return;
    }
    case 2: {  // a single read
      const SingleRead& r = kSingleReads[in.ConsumeIntegralInRange<size_t>(0, std::size(kSingleReads) - 1)];
      const uint32_t address = in.ConsumeIntegral<uint32_t>();
      const uint32_t want = r.value(ref.single(r.reply_length));
      const uint32_t got = r.run(address);
      FUZZ_CHECK(got == want, "%s gave 0x%X, expected 0x%X", r.name, got, want);
      return;
    }
    case 3: {  // g11_read_byte: the dump file's 1024-byte block around the address
      const uint32_t address = consume_offset(in);
      std::vector<uint8_t> block(kReplyBlockSize, 0);
      ref.read(ref.dump, address & 0xFFFC00, block.data(), kReplyBlockSize);
      const uint8_t got = g11_read_byte(address);
      FUZZ_CHECK(got == block[address & 0x3FF], "g11_read_byte(0x%X) gave 0x%02X, expected 0x%02X", address, got,
                 block[address & 0x3FF]);
      return;
    }
    case 4: {  // g11_read: the dump file at the address
      const uint32_t address = consume_offset(in);
      const uint32_t length = consume_length(in, 0xFFFFFFFF);
      auto got = untouched_buffer(length);
      std::vector<uint8_t> expected(length, kUntouched);
      const int want = ref.read(ref.dump, address, expected.data(), length);
      const uint32_t n = g11_read(address, got.get(), length);
      FUZZ_CHECK(n == static_cast<uint32_t>(want), "g11_read of %u bytes gave %u, expected %d", length, n, want);
      compare("g11_read", got.get(), expected);
      return;
    }
  }
}

std::vector<uint8_t> consume_file(FuzzedDataProvider& in, uint32_t max_size) {
  const uint32_t size = in.ConsumeIntegralInRange<uint32_t>(0, max_size);
  const uint8_t seed = in.ConsumeIntegral<uint8_t>();
  std::vector<uint8_t> file(size);
  for (uint32_t i = 0; i < size; ++i) {
    file[i] = static_cast<uint8_t>(i * 7 + (i >> 9) + seed);
  }
  return file;
}

}  // namespace
}  // namespace cartdump::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cartdump;
  using namespace cartdump::fuzz;
  using namespace cartdump::test;
  FuzzedDataProvider in(data, size);
  memory_drive_reset();
  device_state = DeviceState{};
  set_drive_root(kRoot);
  MemoryDrive& drive = memory_drive();
  if (in.ConsumeIntegral<uint8_t>() != 0) {
    drive.device_roots.insert(kRoot);
  }
  drive.reply_file = consume_file(in, 20000);
  drive.dump_file = consume_file(in, 90000);
  const size_t limits = in.ConsumeIntegralInRange<size_t>(0, 8);
  for (size_t i = 0; i < limits; ++i) {
    drive.read_limits.push_back(in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 9000)
                                                 : in.ConsumeIntegral<uint32_t>());
  }
  Reference ref;
  const bool present = !drive.device_roots.empty();
  ref.reply = present ? &drive.reply_file : nullptr;
  ref.dump = present ? &drive.dump_file : nullptr;
  ref.limits = drive.read_limits;
  const size_t write_limits = in.ConsumeIntegralInRange<size_t>(0, 4);
  for (size_t i = 0; i < write_limits; ++i) {
    drive.write_limits.push_back(in.ConsumeBool() ? 512 : in.ConsumeIntegralInRange<uint32_t>(0, 511));
  }
  // Only the device's own command file can refuse a write.
  if (present) ref.write_limits = drive.write_limits;
  for (int step = 0; step < 16 && in.remaining_bytes() > 0; ++step) {
    run_one(in, ref);
  }
  return 0;
}

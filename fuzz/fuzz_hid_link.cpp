// The HID report link over a host side that answers anything: interfaces with any attributes and
// failures, and transfers that end in any status with any byte count the platform claims (more
// than was asked for, none at all, the report id alone) and any bytes. Enumerations, reads,
// writes, closes and the service commands' HID forms run in any order.
//
// Checks, besides the sanitizers:
//   - hid_open_devices lists the matching interfaces in enumeration order, up to max_count, and
//     closes everything it opened but did not list;
//   - a read returns -1, 0 or at most `length` bytes, exactly the report's bytes after the id, and
//     writes nothing past them into a destination of exactly `length` bytes; a write returns -1, 0
//     or the count less the report id, and sends report id 0 and the payload;
//   - both results follow the status: a time-out 0, a failure or an empty transfer -1, a length
//     over 515 or a missing or closed device -1 with nothing sent;
//   - no lock is held after a call, and no handle is open that the list does not own;
//   - the HID block write sends ceil(count / 56) reports of the opcode, the running 24-bit address,
//     the chunk length and its bytes, with bytes 62-63 zero, and a reply read after each.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/support/fuzz_check.h"
#include "fuzz/support/fuzz_hid.h"
#include "link/device_state.h"
#include "link/discovery.h"
#include "link/hid_link.h"
#include "link/service.h"
#include "tests/support/fake_hid.h"

namespace cartdump::fuzz {
namespace {

using namespace test;

// What the list should hold: per entry, whether it is open.
struct ListMirror {
  std::vector<bool> open;

  int open_entries() const { return static_cast<int>(std::count(open.begin(), open.end(), true)); }
  bool usable(int index) const {
    const size_t i = index <= 0 ? 0 : static_cast<size_t>(index);
    return i < open.size() && open[i];
  }
};

HidTransferStatus consume_status(FuzzedDataProvider& in) {
  constexpr HidTransferStatus kStatuses[] = {HidTransferStatus::done, HidTransferStatus::done,
                                             HidTransferStatus::timed_out, HidTransferStatus::failed};
  return in.PickValueInArray(kStatuses);
}

ScriptedTransfer consume_transfer(FuzzedDataProvider& in, uint32_t length) {
  ScriptedTransfer t;
  t.status = consume_status(in);
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: t.transferred = length + 1; break;
    case 1: t.transferred = in.ConsumeIntegralInRange<uint32_t>(0, 2); break;
    case 2: t.transferred = in.ConsumeIntegralInRange<uint32_t>(0, 600); break;
    default: t.transferred = in.ConsumeIntegral<uint32_t>(); break;
  }
  t.bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 600));
  return t;
}

int consume_filter(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return -1;
    case 1: return 0;
    case 2: return in.ConsumeIntegralInRange<int>(1, 3);
    default: return in.ConsumeIntegral<int>();
  }
}

int consume_index(FuzzedDataProvider& in) { return in.ConsumeIntegralInRange<int>(-2, 5); }

uint32_t consume_length(FuzzedDataProvider& in) {
  constexpr uint32_t kEdges[] = {0, 1, 63, 64, 65, 514, 515, 516, 517};
  return in.ConsumeBool() ? in.PickValueInArray(kEdges) : in.ConsumeIntegralInRange<uint32_t>(0, 700);
}

bool rejects(int filter, uint16_t value) { return filter > 0 && filter != value; }

// The reports the host side moved in one direction since the first `from` transfers.
std::vector<const FakeTransferRecord*> transfers_since(size_t from, HidDirection direction) {
  std::vector<const FakeTransferRecord*> moved;
  const std::vector<FakeTransferRecord>& all = fake_hid().transfers;
  for (size_t i = from; i < all.size(); ++i) {
    if (all[i].direction == direction) moved.push_back(&all[i]);
  }
  return moved;
}

class Session {
 public:
  explicit Session(FuzzedDataProvider& in) : in_(in) {}

  void run_one() {
    switch (in_.ConsumeIntegralInRange<int>(0, 6)) {
      case 0: open_devices(); break;
      case 1:
      case 2: read_report(); break;
      case 3: write_report(); break;
      case 4: close_device(); break;
      case 5: block_write(); break;
      case 6: exchange(); break;
    }
    fake_hid_check_settled(list_.open_entries());
  }

 private:
  void open_devices() {
    const int max_count = in_.ConsumeIntegralInRange<int>(-2, 4);
    const int vendor = consume_filter(in_);
    const int product = consume_filter(in_);
    const int page = consume_filter(in_);
    const int usage = consume_filter(in_);
    const FakeHid& hid = fake_hid();
    // Expected: the interfaces this enumeration lists that pass every check, up to max_count.
    int expected = 0;
    if (max_count >= 1 && !hid.set_unavailable) {
      const int enumeration = hid.enumerations + 1;
      for (const FakeHidInterface& s : hid.interfaces) {
        if (expected == max_count) break;
        if (s.listed_from > enumeration || s.path_fails || s.open_fails || s.attributes_fail) continue;
        if (rejects(vendor, s.vendor_id) || rejects(product, s.product_id) || s.caps_fail) continue;
        if (rejects(page, s.usage_page) || rejects(usage, s.usage)) continue;
        ++expected;
      }
    }
    const int count = hid_open_devices(max_count, vendor, product, page, usage);
    FUZZ_CHECK(count == expected, "hid_open_devices listed %d, expected %d", count, expected);
    list_.open.assign(static_cast<size_t>(count), true);
    for (int i = 0; i < count + 2; ++i) {
      FUZZ_CHECK((hid_list_at(i) != nullptr) == (i < count), "the list does not hold %d entries", count);
    }
  }

  void read_report() {
    const int index = consume_index(in_);
    const uint32_t length = consume_length(in_);
    const ScriptedTransfer t = consume_transfer(in_, length);
    FakeHid& hid = fake_hid();
    hid.script.push_front(t);
    const size_t transfers_before = hid.transfers.size();
    const auto destination = std::make_unique<uint8_t[]>(std::max<uint32_t>(length, 1));
    std::fill_n(destination.get(), length, 0xA5);
    const int n = hid_read_report(index, destination.get(), length, 100);
    const bool refused = length > kHidMaxPayload || !list_.usable(index);
    if (refused) {
      FUZZ_CHECK(n == -1, "a read that must be refused gave %d", n);
      FUZZ_CHECK(hid.transfers.size() == transfers_before, "a refused read reached the device");
      hid.script.pop_front();
      return;
    }
    int expected = -1;
    if (t.status == HidTransferStatus::timed_out) {
      expected = 0;
    } else if (t.status == HidTransferStatus::done && t.transferred > 0) {
      expected = static_cast<int>(std::min<uint64_t>(t.transferred - 1, length));
    }
    FUZZ_CHECK(n == expected, "a read of %u bytes (status %d, %u transferred) gave %d, expected %d", length,
               static_cast<int>(t.status), t.transferred, n, expected);
    for (uint32_t i = 0; i < length; ++i) {
      const bool delivered = n > 0 && i < static_cast<uint32_t>(n);
      const uint8_t want = !delivered ? 0xA5 : i + 1 < t.bytes.size() ? t.bytes[i + 1] : 0;
      FUZZ_CHECK(destination[i] == want, "read destination byte %u is 0x%02X, expected 0x%02X", i, destination[i], want);
    }
  }

  void write_report() {
    const int index = consume_index(in_);
    const uint32_t length = consume_length(in_);
    const ScriptedTransfer t = consume_transfer(in_, length);
    std::vector<uint8_t> payload = in_.ConsumeBytes<uint8_t>(length);
    payload.resize(length, 0x3C);
    const auto source = std::make_unique<uint8_t[]>(std::max<uint32_t>(length, 1));
    std::copy(payload.begin(), payload.end(), source.get());
    FakeHid& hid = fake_hid();
    hid.script.push_front(t);
    const size_t transfers_before = hid.transfers.size();
    const int n = hid_write_report(index, source.get(), length, 100);
    if (length > kHidMaxPayload || !list_.usable(index)) {
      FUZZ_CHECK(n == -1, "a write that must be refused gave %d", n);
      FUZZ_CHECK(hid.transfers.size() == transfers_before, "a refused write reached the device");
      hid.script.pop_front();
      return;
    }
    const auto written = transfers_since(transfers_before, HidDirection::write);
    FUZZ_CHECK(written.size() == 1 && hid.transfers.size() == transfers_before + 1, "a write sent %zu reports",
               written.size());
    const std::vector<uint8_t>& report = written[0]->report;
    FUZZ_CHECK(report.size() == length + 1 && report[0] == 0 && std::equal(payload.begin(), payload.end(), report.begin() + 1),
               "a write did not send report id 0 and the payload");
    int64_t expected = -1;
    if (t.status == HidTransferStatus::timed_out) {
      expected = 0;
    } else if (t.status == HidTransferStatus::done && t.transferred > 0) {
      expected = std::min<int64_t>(int64_t{t.transferred} - 1, INT32_MAX);
    }
    FUZZ_CHECK(n == expected, "a write of %u bytes (status %d, %u transferred) gave %d", length,
               static_cast<int>(t.status), t.transferred, n);
  }

  void close_device() {
    const int index = consume_index(in_);
    hid_close_device(index);
    const size_t i = index <= 0 ? 0 : static_cast<size_t>(index);
    if (i < list_.open.size()) {
      list_.open[i] = false;
    }
  }

  // dev_write_block and dev_write_block_18 on the HID link.
  void block_write() {
    device_state.hid_mode = 1;
    const bool second_opcode = in_.ConsumeBool();
    const uint32_t address = in_.ConsumeIntegral<uint32_t>();
    const uint32_t count = in_.ConsumeIntegralInRange<uint32_t>(0, 1000);
    std::vector<uint8_t> data = in_.ConsumeBytes<uint8_t>(count);
    data.resize(count, 0x5C);
    const auto source = std::make_unique<uint8_t[]>(std::max<uint32_t>(count, 1));
    std::copy(data.begin(), data.end(), source.get());
    const size_t scripted = in_.ConsumeIntegralInRange<size_t>(0, 4);
    FakeHid& hid = fake_hid();
    hid.script.clear();
    for (size_t i = 0; i < scripted; ++i) hid.script.push_back(consume_transfer(in_, kHidPayloadSize));
    const size_t transfers_before = hid.transfers.size();
    const int result = second_opcode ? dev_write_block_18(address, source.get(), count)
                                     : dev_write_block(address, source.get(), count);
    FUZZ_CHECK(result == 1, "the HID block write gave %d", result);
    const auto written = transfers_since(transfers_before, HidDirection::write);
    if (!list_.usable(0)) {
      FUZZ_CHECK(written.empty(), "reports sent without a device");
      return;
    }
    const size_t reports = (count + 55) / 56;
    const size_t reads = transfers_since(transfers_before, HidDirection::read).size();
    FUZZ_CHECK(written.size() == reports, "%zu reports for %u bytes", written.size(), count);
    FUZZ_CHECK(reads == reports, "%zu reply reads for %zu reports", reads, reports);
    std::vector<uint8_t> previous(kHidPayloadSize, 0);
    for (size_t k = 0; k < reports; ++k) {
      const std::vector<uint8_t>& r = written[k]->report;
      FUZZ_CHECK(r.size() == kHidPayloadSize + 1 && r[0] == 0, "report %zu is not 64 bytes behind id 0", k);
      const uint8_t* p = r.data() + 1;
      const uint32_t offset = static_cast<uint32_t>(k * 56);
      const uint32_t chunk = std::min<uint32_t>(56, count - offset);
      const uint32_t at = address + offset;
      FUZZ_CHECK(p[0] == (second_opcode ? 0x18 : 0x19), "report %zu opcode 0x%02X", k, p[0]);
      FUZZ_CHECK(p[1] == uint8_t(at) && p[2] == uint8_t(at >> 8) && p[3] == uint8_t(at >> 16), "report %zu address", k);
      FUZZ_CHECK(p[4] == uint8_t(chunk) && p[5] == uint8_t(chunk >> 8), "report %zu chunk length", k);
      FUZZ_CHECK(std::equal(data.begin() + offset, data.begin() + offset + chunk, p + 6), "report %zu data", k);
      // Behind a short last chunk the report still holds the previous chunk's bytes.
      FUZZ_CHECK(std::equal(p + 6 + chunk, p + 62, previous.begin() + 6 + chunk), "report %zu after its chunk", k);
      FUZZ_CHECK(p[62] == 0 && p[63] == 0, "report %zu bytes 62-63", k);
      previous.assign(p, p + kHidPayloadSize);
    }
  }

  // dev_exchange and the information queries: the reply is the device's 64 bytes or all zero.
  void exchange() {
    device_state.hid_mode = 1;
    FakeHid& hid = fake_hid();
    hid.script.clear();
    hid.script.push_back(consume_transfer(in_, kHidPayloadSize));
    const ScriptedTransfer answer = consume_transfer(in_, kHidPayloadSize);
    hid.script.push_back(answer);
    const auto report = std::make_unique<uint8_t[]>(kHidPayloadSize);
    const auto reply = std::make_unique<uint8_t[]>(kHidPayloadSize);
    std::fill_n(reply.get(), kHidPayloadSize, 0xEE);
    const uint8_t opcode = in_.ConsumeIntegral<uint8_t>();
    if (in_.ConsumeBool()) {
      std::fill_n(report.get(), kHidPayloadSize, 0x11);
      dev_exchange(opcode, report.get(), reply.get());
      FUZZ_CHECK(report[0] == opcode, "dev_exchange did not leave its opcode in the report");
    } else {
      query_device_info(opcode, reply.get());
    }
    std::vector<uint8_t> expected(kHidPayloadSize, 0);
    if (list_.usable(0) && answer.status == HidTransferStatus::done && answer.transferred > 0) {
      const uint32_t n = std::min<uint32_t>(answer.transferred - 1, kHidPayloadSize);
      for (uint32_t i = 0; i < n; ++i) expected[i] = i + 1 < answer.bytes.size() ? answer.bytes[i + 1] : 0;
    }
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), reply.get()), "the exchange's reply is not the device's answer");
    hid.script.clear();
  }

  FuzzedDataProvider& in_;
  ListMirror list_;
};

void build_interfaces(FuzzedDataProvider& in) {
  FakeHid& hid = fake_hid();
  hid.answers = FakeHidAnswers::script;
  const size_t interfaces = in.ConsumeIntegralInRange<size_t>(0, 5);
  for (size_t i = 0; i < interfaces; ++i) {
    FakeHidInterface s;
    s.path = std::to_string(i);
    s.vendor_id = in.ConsumeIntegralInRange<uint16_t>(0, 3);
    s.product_id = in.ConsumeIntegralInRange<uint16_t>(0, 3);
    s.usage_page = in.ConsumeIntegralInRange<uint16_t>(0, 3);
    s.usage = in.ConsumeIntegralInRange<uint16_t>(0, 3);
    s.listed_from = in.ConsumeIntegralInRange<int>(1, 4);
    set_interface_faults(s, in.ConsumeIntegral<uint8_t>());
    hid.interfaces.push_back(s);
  }
  hid.set_unavailable = in.ConsumeIntegral<uint8_t>() == 0xA5;
  hid.error_code = in.ConsumeIntegral<long>();
  hid.error_text = in.ConsumeRandomLengthString(400);
}

}  // namespace
}  // namespace cartdump::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cartdump;
  using namespace cartdump::fuzz;
  using namespace cartdump::test;
  FuzzedDataProvider in(data, size);
  fake_hid_reset();
  device_state = DeviceState{};
  build_interfaces(in);
  Session session(in);
  for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
    session.run_one();
  }
  return 0;
}

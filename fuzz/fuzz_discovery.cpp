// Discovery over whatever the device and the host hand it: HID interfaces with any attributes,
// name and identity replies of any length and content (or none), a volume list with any roots and
// labels, and a reply file whose identity block may be short, damaged or anything at all.
//
// Checks after open_device:
//   - device_name, volume_label and second_name are terminated within their 64 bytes, and the
//     drive root within its capacity;
//   - the record holds exactly what a plain reading of the discovery steps gives for these replies
//     (the reference below): link, flags, names cut at 63 characters, the DeviceId, the drive root;
//   - the drive step writes nothing but the one identity request, whose bytes 3-509 are the
//     identity block's, framed;
//   - no buffer handed to the host is shorter than claimed (the fakes check every one).
//
// Before it, n64dump --devices' survey (survey_devices) runs on the same host, which is then put
// back as it was for open_device. Checks after the survey:
//   - it finds a reader exactly when discovery does, on the same link, and on the drive link
//     chooses the volume discovery takes;
//   - it writes no file (no command sector), leaves the DeviceState as it was and the HID
//     device list empty with nothing open;
//   - its HID entries are the interfaces with the reader's ids, in enumeration order;
//   - its text is printable ASCII alone, and its JSON is valid UTF-8 that reads back with the
//     keys hid, volumes, chosen.
#include <fuzzer/FuzzedDataProvider.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/devices.h"
#include "fuzz/support/fuzz_check.h"
#include "fuzz/support/fuzz_hid.h"
#include "link/device_link.h"
#include "link/device_state.h"
#include "link/discovery.h"
#include "link/discovery_survey.h"
#include "link/hid_link.h"
#include "link/sector.h"
#include "tests/support/fake_drive_walk.h"
#include "tests/support/fake_hid.h"
#include "tests/support/memory_drive.h"

namespace cartdump::fuzz {
namespace {

using namespace test;
using Name = std::array<char, kNameCapacity>;
using Id = std::array<uint8_t, kDeviceIdSize>;

constexpr uint32_t kMaxRoot = 64;  // long roots are the drive walk's business; discovery copies them whole

HidTransferStatus consume_status(FuzzedDataProvider& in) {
  constexpr HidTransferStatus kStatuses[] = {HidTransferStatus::done, HidTransferStatus::timed_out,
                                             HidTransferStatus::failed};
  return in.PickValueInArray(kStatuses);
}

ScriptedTransfer consume_transfer(FuzzedDataProvider& in) {
  ScriptedTransfer t;
  t.status = consume_status(in);
  // Mostly plausible counts, sometimes any count at all.
  t.transferred = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 70) : in.ConsumeIntegral<uint32_t>();
  t.bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 80));
  return t;
}

std::string consume_text(FuzzedDataProvider& in, size_t max_length) {
  std::string text = in.ConsumeRandomLengthString(max_length);
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  return text;
}

// The input: the HID side, the volumes, the reply file, short reads.
void build_host(FuzzedDataProvider& in) {
  FakeHid& hid = fake_hid();
  hid.answers = FakeHidAnswers::script;
  const size_t interfaces = in.ConsumeIntegralInRange<size_t>(0, 3);
  for (size_t i = 0; i < interfaces; ++i) {
    FakeHidInterface s;
    s.path = std::to_string(i);
    const bool is_device = in.ConsumeBool();
    s.vendor_id = is_device ? kHidVendorId : in.ConsumeIntegral<uint16_t>();
    s.product_id = is_device ? kHidProductId : in.ConsumeIntegral<uint16_t>();
    s.usage_page = in.ConsumeIntegral<uint16_t>();
    s.usage = in.ConsumeIntegral<uint16_t>();
    s.listed_from = in.ConsumeIntegralInRange<int>(1, 3);
    set_interface_faults(s, in.ConsumeIntegral<uint8_t>());
    hid.interfaces.push_back(s);
  }
  hid.set_unavailable = in.ConsumeIntegral<uint8_t>() == 0xA5;
  hid.error_code = in.ConsumeIntegral<long>();
  hid.error_text = in.ConsumeRandomLengthString(300);
  // The name query and the identity query: a write and a read each.
  const size_t transfers = in.ConsumeIntegralInRange<size_t>(0, 4);
  for (size_t i = 0; i < transfers; ++i) {
    hid.script.push_back(consume_transfer(in));
  }

  MemoryDrive& drive = memory_drive();
  FakeDriveWalk& walk = fake_drive_walk();
  const size_t volumes = in.ConsumeIntegralInRange<size_t>(0, 4);
  for (size_t i = 0; i < volumes; ++i) {
    FakeVolume v;
    v.root = consume_text(in, kMaxRoot);
    v.removable = in.ConsumeBool();
    v.label = in.ConsumeRandomLengthString(80);
    if (in.ConsumeBool()) {
      drive.device_roots.insert(v.root);
    }
    walk.volumes.push_back(v);
  }
  drive.writes_fail = in.ConsumeIntegral<uint8_t>() == 0x5A;
  const size_t limits = in.ConsumeIntegralInRange<size_t>(0, 3);
  for (size_t i = 0; i < limits; ++i) {
    drive.read_limits.push_back(in.ConsumeIntegralInRange<uint32_t>(0, 1100));
  }
  // Reply file: the identity request's reply at 0, then the identity block at 8192, as long or
  // short as the input makes it.
  std::vector<uint8_t> reply = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 16));
  const bool block_present = in.ConsumeBool();
  reply.resize(kIdentityOffset, 0);
  if (block_present) {
    const std::vector<uint8_t> block = in.ConsumeRemainingBytes<uint8_t>();
    reply.insert(reply.end(), block.begin(), block.end());
  } else {
    reply.resize(in.ConsumeIntegralInRange<size_t>(0, kIdentityOffset));
  }
  drive.reply_file = std::move(reply);
}

// What discovery should find, worked out step by step from the host as the input made it -------

Name name_from(const uint8_t* source, size_t source_size) {
  Name name{};
  const size_t limit = std::min<size_t>(source_size, kNameCapacity - 1);
  for (size_t i = 0; i < limit && source[i] != 0; ++i) {
    name[i] = static_cast<char>(source[i]);
  }
  return name;
}

bool begins_boot(const uint8_t* bytes) { return std::memcmp(bytes, "BOOT", 4) == 0; }

struct Expected {
  bool found = false;
  uint8_t link_kind = 0;
  uint8_t hid_mode = 0;
  uint8_t boot_mode = 0;
  std::optional<uint8_t> second_block;  // not written on the HID path
  std::string root;
  Name device_name{};
  Name second_name{};
  std::string label;
  Id device_id{};
  std::optional<std::array<uint8_t, kSectorSize>> request;  // the identity request, framed
};

// The interface the HID step opens in enumeration number `enumeration`, if any.
bool hid_finds_device(const FakeHid& hid, int enumeration) {
  if (hid.set_unavailable) {
    return false;
  }
  for (const FakeHidInterface& s : hid.interfaces) {
    if (s.listed_from > enumeration || s.path_fails || s.open_fails || s.attributes_fail) continue;
    if (s.vendor_id != kHidVendorId || s.product_id != kHidProductId) continue;
    if (s.caps_fail) continue;
    return true;
  }
  return false;
}

// One query: a write, then a read into a cleared 64-byte reply; the transfers come off the script.
std::array<uint8_t, kHidPayloadSize> query_reply(std::deque<ScriptedTransfer>& script) {
  std::array<uint8_t, kHidPayloadSize> reply{};
  if (!script.empty()) script.pop_front();  // the write
  if (script.empty()) return reply;         // the read times out
  const ScriptedTransfer t = script.front();
  script.pop_front();
  if (t.status != HidTransferStatus::done || t.transferred == 0) return reply;
  // The report: cleared, then the platform's bytes from byte 0, the report id skipped.
  std::array<uint8_t, kHidPayloadSize + 1> report{};
  std::copy_n(t.bytes.begin(), std::min(t.bytes.size(), report.size()), report.begin());
  const size_t n = std::min<size_t>(t.transferred - 1, kHidPayloadSize);
  std::copy_n(report.begin() + 1, n, reply.begin());
  return reply;
}

// A read of the reply file as the drive file link makes it for length <= 1024: one 1024-byte read,
// the bytes not delivered zero.
std::array<uint8_t, kReplyBlockSize> reply_block(const MemoryDrive& drive, const std::string& root, uint32_t offset,
                                                 std::deque<uint32_t>& limits, uint32_t& delivered) {
  std::array<uint8_t, kReplyBlockSize> block{};
  delivered = 0;
  if (drive.device_roots.count(root) == 0) return block;
  const std::vector<uint8_t>& file = drive.reply_file;
  uint32_t n = memory_drive_available(file.size(), offset, kReplyBlockSize);
  if (!limits.empty()) {
    n = std::min(n, limits.front());
    limits.pop_front();
  }
  if (n > 0) std::copy_n(file.begin() + offset, n, block.begin());
  delivered = n;
  return block;
}

Expected expect(const FakeHid& hid_script, const FakeDriveWalk& walk, const MemoryDrive& drive_script) {
  Expected e;
  if (hid_finds_device(hid_script, 1) || hid_finds_device(hid_script, 2)) {
    std::deque<ScriptedTransfer> script = hid_script.script;
    const auto name = query_reply(script);
    const auto id = query_reply(script);
    e.found = true;
    e.link_kind = kLinkHid;
    e.hid_mode = 1;
    e.boot_mode = begins_boot(name.data()) ? 1 : 0;
    e.device_name = name_from(name.data(), name.size());
    std::copy_n(id.begin(), kDeviceIdSize, e.device_id.begin());
    return e;
  }
  std::deque<uint32_t> limits = drive_script.read_limits;
  for (const FakeVolume& v : walk.volumes) {
    e.root = v.root;
    if (!v.removable) continue;
    uint32_t delivered = 0;
    auto block = reply_block(drive_script, v.root, kIdentityOffset, limits, delivered);
    if (delivered != kIdentityBlockSize) continue;
    e.found = true;
    e.link_kind = kLinkDrive;
    e.boot_mode = begins_boot(block.data()) ? 1 : 0;
    // The host names a volume by its root: the label is that of the first volume with this root.
    const auto named = std::find_if(walk.volumes.begin(), walk.volumes.end(),
                                    [&](const FakeVolume& other) { return other.root == v.root; });
    e.label = named->label.substr(0, kNameCapacity - 2);
    e.label = e.label.substr(0, e.label.find('\0'));
    e.device_name = name_from(block.data(), block.size());
    if (begins_boot(block.data() + 256)) {
      e.second_block = 1;
      std::copy_n(block.begin() + 512, kDeviceIdSize, e.device_id.begin());
      e.second_name = name_from(block.data() + 256, block.size() - 256);
      return e;
    }
    e.second_block = 0;
    std::array<uint8_t, kSectorSize> request{};
    std::copy_n(block.begin(), kSectorSize, request.begin());
    request[1] = 0xF0;
    request[2] = 0x04;
    frame_sectors(request.data(), kSectorSize);
    e.request = request;
    const auto reply = reply_block(drive_script, v.root, 0, limits, delivered);
    std::copy_n(reply.begin(), kDeviceIdSize, e.device_id.begin());
    return e;
  }
  return e;
}

// Checks --------------------------------------------------------------------------------------------

template <size_t N>
size_t terminated_length(const std::array<char, N>& field, const char* what) {
  const void* nul = std::memchr(field.data(), '\0', field.size());
  FUZZ_CHECK(nul != nullptr, "%s is not terminated", what);
  return static_cast<size_t>(static_cast<const char*>(nul) - field.data());
}

void check(const Expected& e, bool found, uint8_t second_block_before) {
  const DeviceState& s = device_state;
  FUZZ_CHECK(terminated_length(s.device_name, "device_name") <= kNameCapacity - 1, "device_name too long");
  FUZZ_CHECK(terminated_length(s.volume_label, "volume_label") <= kNameCapacity - 2, "volume_label too long");
  FUZZ_CHECK(terminated_length(s.second_name, "second_name") <= kNameCapacity - 1, "second_name too long");
  terminated_length(s.drive_root, "drive_root");

  FUZZ_CHECK(found == e.found, "open_device gave %d, expected %d", found, e.found);
  FUZZ_CHECK(s.drive_root.data() == e.root, "drive_root \"%s\", expected \"%s\"", s.drive_root.data(),
             e.root.c_str());
  const std::vector<const FileCall*> writes = memory_drive_writes();
  if (!e.found) {
    FUZZ_CHECK(writes.empty(), "%zu files written without a device", writes.size());
    return;
  }
  FUZZ_CHECK(s.link_kind == e.link_kind, "link_kind %u, expected %u", s.link_kind, e.link_kind);
  FUZZ_CHECK(s.hid_mode == e.hid_mode, "hid_mode %u", s.hid_mode);
  FUZZ_CHECK(s.boot_mode == e.boot_mode, "boot_mode %u", s.boot_mode);
  FUZZ_CHECK(s.second_block == e.second_block.value_or(second_block_before), "second_block %u", s.second_block);
  FUZZ_CHECK(s.device_name == e.device_name, "device_name \"%.64s\", expected \"%.64s\"", s.device_name.data(),
             e.device_name.data());
  FUZZ_CHECK(s.second_name == e.second_name, "second_name \"%.64s\"", s.second_name.data());
  FUZZ_CHECK(s.volume_label.data() == e.label, "volume_label \"%.64s\"", s.volume_label.data());
  FUZZ_CHECK(s.device_id == e.device_id, "device_id differs");
  if (e.request) {
    FUZZ_CHECK(writes.size() == 1, "%zu files written, expected the identity request", writes.size());
    FUZZ_CHECK(writes[0]->path == e.root + kCommandFile, "the request went to %s", writes[0]->path.c_str());
    FUZZ_CHECK(writes[0]->bytes.size() == kSectorSize &&
                   std::equal(writes[0]->bytes.begin(), writes[0]->bytes.end(), e.request->begin()),
               "the identity request is not the identity block's first sector, framed");
  } else {
    FUZZ_CHECK(writes.empty(), "%zu files written, expected none", writes.size());
  }
}

// The survey, on the host as the input made it; the host is put back afterwards (the scripted
// transfers, the reads cut short, the enumeration count and the calls) for discovery itself.
void survey_and_check(const Expected& e) {
  const FakeHid hid_before = fake_hid();
  const std::deque<uint32_t> limits_before = memory_drive().read_limits;
  const DeviceState state_before = device_state;

  const int found = survey_devices();
  const DiscoverySurvey& s = discovery_survey;
  FUZZ_CHECK(found == (e.found ? 1 : 0), "the survey found %d, discovery %d", found, e.found);
  FUZZ_CHECK(s.link_kind == e.link_kind, "the survey's link %u, discovery's %u", s.link_kind, e.link_kind);
  if (e.link_kind == kLinkDrive) {
    FUZZ_CHECK(s.chosen_volume >= 0 &&
                   s.volumes[static_cast<size_t>(s.chosen_volume)].root.data() == e.root,
               "the survey chose volume %d, discovery %s", s.chosen_volume, e.root.c_str());
  }
  FUZZ_CHECK(memory_drive_writes().empty(), "the survey wrote %zu files", memory_drive_writes().size());
  FUZZ_CHECK(std::memcmp(&device_state, &state_before, sizeof device_state) == 0, "the survey changed the DeviceState");
  FUZZ_CHECK(hid_list_at(0) == nullptr, "the survey left the HID device list filled");
  fake_hid_check_settled(0);
  // The listing is the survey's last enumeration; a set that cannot be had lists nothing.
  size_t readers = 0;
  for (const FakeHidInterface& i : hid_before.interfaces) {
    const bool listed = !hid_before.set_unavailable && i.listed_from <= fake_hid().enumerations && !i.path_fails;
    if (listed && i.vendor_id == kHidVendorId && i.product_id == kHidProductId) {
      FUZZ_CHECK(readers < s.hid.size() && s.hid[readers].path.data() == i.path, "HID entry %zu is not %s", readers,
                 i.path.c_str());
      ++readers;
    }
  }
  FUZZ_CHECK(s.hid.size() == readers, "%zu HID entries, %zu interfaces with the reader's ids", s.hid.size(), readers);

  for (const ReportLine& line : devices_lines(s)) {
    for (const char c : line.label + line.text) {
      FUZZ_CHECK(c >= 0x20 && c <= 0x7E, "byte %d in the line \"%s\"", static_cast<unsigned char>(c), line.text.c_str());
    }
  }
  const auto json = nlohmann::ordered_json::parse(devices_json(s), nullptr, false);
  FUZZ_CHECK(!json.is_discarded(), "the JSON does not read back");
  FUZZ_CHECK(json.size() == 3 && json.contains("hid") && json.contains("volumes") && json.contains("chosen"),
             "the JSON's keys");
  FUZZ_CHECK(json["volumes"].size() == fake_drive_walk().volumes.size(), "the JSON lists %zu volumes",
             json["volumes"].size());

  fake_hid().script = hid_before.script;
  fake_hid().enumerations = hid_before.enumerations;
  memory_drive().read_limits = limits_before;
  memory_drive_calls().clear();
}

}  // namespace
}  // namespace cartdump::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cartdump;
  using namespace cartdump::fuzz;
  using namespace cartdump::test;
  fake_hid_reset();
  memory_drive_reset();
  fake_drive_walk_reset();
  FuzzedDataProvider in(data, size);
  // What an earlier discovery left behind must not show through.
  device_state = DeviceState{};
  device_state.second_block = 0x77;
  std::fill(device_state.drive_root.begin(), device_state.drive_root.end(), 'R');
  device_state.device_name.fill('N');
  device_state.volume_label.fill('L');
  device_state.second_name.fill('S');
  build_host(in);

  const Expected expected = expect(fake_hid(), fake_drive_walk(), memory_drive());
  survey_and_check(expected);
  const bool found = open_device();
  check(expected, found, 0x77);
  const HidDeviceEntry* entry = hid_list_at(0);
  fake_hid_check_settled(entry != nullptr && entry->open != 0 ? 1 : 0);
  return 0;
}

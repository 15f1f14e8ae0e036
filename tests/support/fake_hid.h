// A fake host side for the HID report link: it lists the interfaces a test describes, and behind
// an interface with a model device it plays the device's HID face. A test can make the coming
// transfers time out, fail, or deliver odd counts, and sees every call the link made.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/hid_backend.h"
#include "sim/device.h"

namespace cartdump::test {

struct FakeHidInterface {
  std::string path;
  uint16_t vendor_id = 0x0483;
  uint16_t product_id = 0x5750;
  uint16_t usage_page = 0xFF00;
  uint16_t usage = 0x0001;
  sim::Device* device = nullptr;  // answers the reports; null: a device that never answers
  int listed_from = 1;            // the first enumeration (1, 2, ...) that lists it
  bool path_fails = false;
  bool open_fails = false;
  bool attributes_fail = false;
  bool caps_fail = false;
};

// What the next transfer does instead of the ordinary exchange with the device.
enum class FakeTransfer : uint8_t {
  normal,
  time_out,  // nothing arrives in time
  fail,      // the host reports an error
  id_only,   // a read delivers the report id alone
  oversize,  // a read claims one byte more than it was asked for
  nothing,   // the transfer completes with a count of 0
};

struct FakeTransferRecord {
  HidDirection direction = HidDirection::read;
  std::string path;
  std::vector<uint8_t> report;  // what a write carried, report id first
  uint32_t length = 0;
  uint32_t timeout_ms = 0;
  bool own_lock_held = false;    // the direction's lock, as the transfer ran
  bool other_lock_held = false;  // the other direction's lock
};

struct FakeHid {
  std::vector<FakeHidInterface> interfaces;
  bool set_unavailable = false;
  std::deque<FakeTransfer> coming;  // taken one per transfer; ordinary exchanges once empty
  long error_code = 1167;
  std::string error_text = "The device is not connected.";

  int link_states_created = 0;
  std::array<bool, 2> held{};  // the read and the write lock
  int lock_faults = 0;         // a lock taken while held, or let go while free
  int enumerations = 0;
  std::vector<std::string> opened;  // paths, in the order opened
  int open_handles = 0;
  std::vector<FakeTransferRecord> transfers;
};

FakeHid& fake_hid();
// Whether a transfer in that direction holds its lock now.
bool fake_hid_lock_held(HidDirection direction);
// The path a handle of the fake was opened on.
std::string fake_hid_path(const HidBackendDevice* device);
// Forgets everything, and empties the link's device list.
void fake_hid_reset();

}  // namespace cartdump::test

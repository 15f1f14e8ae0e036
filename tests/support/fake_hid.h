// The fake host side of the HID report link: it lists the interfaces a test describes and plays the
// HID backend behind them, records every call the link made, and checks the link's side of the
// contract (each transfer under its own direction's lock, every buffer as long as claimed, a handle
// only from an open, every lock let go), reporting a broken one through fake_breach.
//
// A transfer's answer comes from one of two places (FakeHid::answers):
//   - device_model (the unit tests): the interface's model device plays the device's HID face, and a
//     test can make the coming transfers time out, fail or deliver odd counts instead;
//   - script (the fuzz targets): every transfer takes the next scripted status, byte count and
//     bytes, whatever they are, and times out once the script is used up.
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
  std::string path;  // the device path handed out; unique among the interfaces
  uint16_t vendor_id = 0x0483;
  uint16_t product_id = 0x5750;
  uint16_t usage_page = 0xFF00;
  uint16_t usage = 0x0001;
  sim::Device* device = nullptr;  // device_model: answers the reports; null: a device that never answers
  int listed_from = 1;            // the first enumeration (1, 2, ...) that lists it
  bool path_fails = false;
  bool ids_hidden = false;  // the enumeration does not tell its ids (hid_backend_interface_ids)
  bool open_fails = false;
  long open_error = 5;      // the host's error code when the open fails
  bool attributes_fail = false;
  bool caps_fail = false;
};

enum class FakeHidAnswers : uint8_t { device_model, script };

// device_model: what the next transfer does instead of the ordinary exchange with the device.
enum class FakeTransfer : uint8_t {
  normal,
  time_out,  // nothing arrives in time
  fail,      // the host reports an error
  id_only,   // a read delivers the report id alone
  oversize,  // a read claims one byte more than it was asked for
  nothing,   // the transfer completes with a count of 0
};

// script: one transfer as the host ends it.
struct ScriptedTransfer {
  HidTransferStatus status = HidTransferStatus::timed_out;
  uint32_t transferred = 0;    // the count the platform claims, report id included
  std::vector<uint8_t> bytes;  // a read's report from byte 0 on; at most the transfer's length land
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
  FakeHidAnswers answers = FakeHidAnswers::device_model;
  std::deque<FakeTransfer> coming;         // device_model: one per transfer; ordinary exchanges once empty
  std::deque<ScriptedTransfer> script;     // script: one per transfer
  long error_code = 1167;                  // what a failed transfer leaves as the host's error
  std::string error_text = "The device is not connected.";  // any bytes; the host's text for error_code
  long access_denied_code = 13;            // the code that means access refused

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
// Empties the link's device list (closing what is left open), then forgets everything.
void fake_hid_reset();
// A breach when a lock is held, or a handle is open that none of open_entries listed entries owns.
void fake_hid_check_settled(int open_entries);

}  // namespace cartdump::test

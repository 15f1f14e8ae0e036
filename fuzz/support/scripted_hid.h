// A HID host side that plays a script: the interfaces the input describes, and for every transfer
// the status, the byte count the platform claims and the bytes it puts into the report, whatever
// they are. It replaces the platform's HID backend in the fuzz targets and checks the link's
// side of the contract: each transfer under its own direction's lock, the report buffer
// addressable for the whole length, every opened handle closed once.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/hid_backend.h"

namespace cartdump::fuzz {

struct ScriptedInterface {
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  int listed_from = 1;  // the first enumeration (1, 2, ...) that lists it
  bool path_fails = false;
  bool open_fails = false;
  bool attributes_fail = false;
  bool caps_fail = false;
};

// Sets the interface's four failures from one input byte: each when both of its two bits are set,
// so that each comes about one time in four.
void set_scripted_faults(ScriptedInterface& entry, uint8_t faults);

struct ScriptedTransfer {
  HidTransferStatus status = HidTransferStatus::timed_out;
  uint32_t transferred = 0;    // the count the platform claims, report id included
  std::vector<uint8_t> bytes;  // a read's report from byte 0 on; at most the transfer's length land
};

struct ScriptedHid {
  std::vector<ScriptedInterface> interfaces;
  bool set_unavailable = false;
  std::deque<ScriptedTransfer> transfers;  // one per transfer; once used up, transfers time out
  long error_code = 0;
  std::string error_text;  // any bytes; the host's text for error_code

  int enumerations = 0;
  int open_handles = 0;
  std::array<bool, 2> held{};  // the read and the write lock
  std::vector<std::vector<uint8_t>> written;  // every write's report, report id first
  uint32_t reads = 0;
};

ScriptedHid& scripted_hid();
// Empties the link's device list (closing what the last run left open), then forgets everything.
void scripted_hid_reset();
// Aborts when a lock is held or a handle is open that no listed entry owns.
void scripted_hid_check_settled(int open_entries);

}  // namespace cartdump::fuzz

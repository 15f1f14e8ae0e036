#include "fuzz/support/scripted_hid.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fuzz/support/fuzz_check.h"
#include "fuzz/support/fuzz_drive.h"
#include "link/hid_link.h"

namespace cartdump {

struct HidInterfaceSet {
  std::vector<size_t> listed;  // indexes into the script's interfaces
};

struct HidBackendDevice {
  size_t interface;
};

namespace {

fuzz::ScriptedHid hid;

size_t direction_index(HidDirection direction) { return direction == HidDirection::read ? 0 : 1; }

}  // namespace

void hid_backend_create_link_state() {}

void hid_backend_lock(HidDirection direction) {
  bool& held = hid.held[direction_index(direction)];
  FUZZ_CHECK(!held, "a lock taken twice");
  held = true;
}

void hid_backend_unlock(HidDirection direction) {
  bool& held = hid.held[direction_index(direction)];
  FUZZ_CHECK(held, "a lock let go that was not held");
  held = false;
}

HidInterfaceSet* hid_backend_open_set() {
  ++hid.enumerations;
  if (hid.set_unavailable) {
    return nullptr;
  }
  auto* set = new HidInterfaceSet;
  for (size_t i = 0; i < hid.interfaces.size(); ++i) {
    if (hid.interfaces[i].listed_from <= hid.enumerations) {
      set->listed.push_back(i);
    }
  }
  return set;
}

void hid_backend_close_set(HidInterfaceSet* set) { delete set; }

HidInterfaceStatus hid_backend_interface_path(HidInterfaceSet* set, uint32_t index, char* path, uint32_t capacity) {
  fuzz::fuzz_check_addressable(path, capacity, "interface path buffer");
  if (index >= set->listed.size()) {
    return HidInterfaceStatus::end;
  }
  const fuzz::ScriptedInterface& i = hid.interfaces[set->listed[index]];
  if (i.path_fails) {
    return HidInterfaceStatus::failed;
  }
  std::snprintf(path, capacity, "%zu", set->listed[index]);
  return HidInterfaceStatus::found;
}

HidBackendDevice* hid_backend_open(const char* path) {
  const size_t index = std::strtoul(path, nullptr, 10);
  FUZZ_CHECK(index < hid.interfaces.size(), "an interface path that was never handed out: %s", path);
  if (hid.interfaces[index].open_fails) {
    return nullptr;
  }
  ++hid.open_handles;
  return new HidBackendDevice{index};
}

void hid_backend_close(HidBackendDevice* device) {
  FUZZ_CHECK(device != nullptr, "a null handle closed");
  --hid.open_handles;
  delete device;
}

bool hid_backend_attributes(HidBackendDevice* device, uint16_t& vendor_id, uint16_t& product_id) {
  const fuzz::ScriptedInterface& i = hid.interfaces[device->interface];
  vendor_id = i.vendor_id;
  product_id = i.product_id;
  return !i.attributes_fail;
}

bool hid_backend_caps(HidBackendDevice* device, uint16_t& usage_page, uint16_t& usage) {
  const fuzz::ScriptedInterface& i = hid.interfaces[device->interface];
  usage_page = i.usage_page;
  usage = i.usage;
  return !i.caps_fail;
}

HidTransferResult hid_backend_transfer(HidBackendDevice* device, HidDirection direction, uint8_t* report,
                                       uint32_t length, uint32_t timeout_ms) {
  (void)timeout_ms;
  FUZZ_CHECK(device != nullptr, "a transfer on a null handle");
  FUZZ_CHECK(hid.held[direction_index(direction)], "a transfer outside its direction's lock");
  FUZZ_CHECK(length >= 1, "a transfer without room for the report id");
  fuzz::fuzz_check_addressable(report, length, "report buffer");
  if (direction == HidDirection::write) {
    hid.written.emplace_back(report, report + length);
  } else {
    ++hid.reads;
  }
  if (hid.transfers.empty()) {
    return {HidTransferStatus::timed_out, 0};
  }
  const fuzz::ScriptedTransfer t = hid.transfers.front();
  hid.transfers.pop_front();
  if (direction == HidDirection::read) {
    std::copy_n(t.bytes.begin(), std::min<size_t>(t.bytes.size(), length), report);
  }
  return {t.status, t.transferred};
}

long hid_backend_error_code() { return hid.error_code; }

void hid_backend_error_text(long code, char* text, uint32_t capacity) {
  fuzz::fuzz_check_addressable(text, capacity, "error text buffer");
  if (capacity == 0) {
    return;
  }
  const std::string& source = code == hid.error_code ? hid.error_text : std::string();
  const size_t n = std::min<size_t>(source.size(), capacity - 1);
  std::copy_n(source.begin(), n, text);
  text[n] = '\0';
}

namespace fuzz {

ScriptedHid& scripted_hid() { return hid; }

void set_scripted_faults(ScriptedInterface& entry, uint8_t faults) {
  entry.path_fails = (faults & 0x11) == 0x11;
  entry.open_fails = (faults & 0x22) == 0x22;
  entry.attributes_fail = (faults & 0x44) == 0x44;
  entry.caps_fail = (faults & 0x88) == 0x88;
}

void scripted_hid_reset() {
  hid_list_clear();
  hid = ScriptedHid{};
}

void scripted_hid_check_settled(int open_entries) {
  FUZZ_CHECK(!hid.held[0] && !hid.held[1], "a lock still held after the call");
  FUZZ_CHECK(hid.open_handles == open_entries, "%d handles open, %d open entries listed", hid.open_handles,
             open_entries);
}

}  // namespace fuzz
}  // namespace cartdump

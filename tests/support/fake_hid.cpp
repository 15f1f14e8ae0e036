#include "tests/support/fake_hid.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "link/hid_link.h"
#include "tests/support/fake_breach.h"

namespace cartdump {

struct HidInterfaceSet {
  std::vector<size_t> listed;  // indexes into the fake's interfaces
};

struct HidBackendDevice {
  size_t interface;
};

namespace {

test::FakeHid fake;
long last_error = 0;

const test::FakeHidInterface& interface_of(const HidBackendDevice* device) { return fake.interfaces.at(device->interface); }

test::FakeTransfer next_behaviour() {
  if (fake.coming.empty()) {
    return test::FakeTransfer::normal;
  }
  const test::FakeTransfer behaviour = fake.coming.front();
  fake.coming.pop_front();
  return behaviour;
}

HidTransferResult exchange(sim::Device* device, HidDirection direction, uint8_t* report, uint32_t length) {
  if (direction == HidDirection::write) {
    if (device != nullptr) {
      sim::hid_take_report(*device, report + 1, length - 1);
    }
    return {HidTransferStatus::done, length};
  }
  sim::HidPayload payload{};
  if (device == nullptr || !sim::hid_give_report(*device, payload)) {
    return {HidTransferStatus::timed_out, 0};
  }
  report[0] = 0;
  const uint32_t n = std::min<uint32_t>(length - 1, sim::kHidPayload);
  std::memcpy(report + 1, payload.data(), n);
  return {HidTransferStatus::done, n + 1};
}

// The model device's answer, or what the next of the coming behaviours makes of it.
HidTransferResult modelled_answer(sim::Device* device, HidDirection direction, uint8_t* report, uint32_t length) {
  switch (next_behaviour()) {
    case test::FakeTransfer::normal:
      return exchange(device, direction, report, length);
    case test::FakeTransfer::time_out:
      return {HidTransferStatus::timed_out, 0};
    case test::FakeTransfer::fail:
      return {HidTransferStatus::failed, 0};
    case test::FakeTransfer::id_only:
      report[0] = 0;
      return {HidTransferStatus::done, 1};
    case test::FakeTransfer::oversize: {
      const HidTransferResult result = exchange(device, direction, report, length);
      return {result.status, length + 1};
    }
    case test::FakeTransfer::nothing:
      return {HidTransferStatus::done, 0};
  }
  return {HidTransferStatus::failed, 0};
}

// The next scripted answer: its bytes land in a read's report, as many as the report holds.
HidTransferResult scripted_answer(HidDirection direction, uint8_t* report, uint32_t length) {
  if (fake.script.empty()) {
    return {HidTransferStatus::timed_out, 0};
  }
  const test::ScriptedTransfer t = std::move(fake.script.front());
  fake.script.pop_front();
  if (direction == HidDirection::read) {
    std::copy_n(t.bytes.begin(), std::min<size_t>(t.bytes.size(), length), report);
  }
  return {t.status, t.transferred};
}

}  // namespace

void hid_backend_create_link_state() { ++fake.link_states_created; }

// One thread only: a lock taken twice would deadlock a real host.
void hid_backend_lock(HidDirection direction) {
  bool& held = fake.held[static_cast<size_t>(direction)];
  fake.lock_faults += test::fake_holds(!held, "a lock taken twice") ? 0 : 1;
  held = true;
}

void hid_backend_unlock(HidDirection direction) {
  bool& held = fake.held[static_cast<size_t>(direction)];
  fake.lock_faults += test::fake_holds(held, "a lock let go that was not held") ? 0 : 1;
  held = false;
}

HidInterfaceSet* hid_backend_open_set() {
  ++fake.enumerations;
  if (fake.set_unavailable) {
    return nullptr;
  }
  auto* set = new HidInterfaceSet;
  for (size_t i = 0; i < fake.interfaces.size(); ++i) {
    if (fake.interfaces[i].listed_from <= fake.enumerations) {
      set->listed.push_back(i);
    }
  }
  return set;
}

void hid_backend_close_set(HidInterfaceSet* set) { delete set; }

HidInterfaceStatus hid_backend_interface_path(HidInterfaceSet* set, uint32_t index, char* path, uint32_t capacity) {
  if (!test::fake_addressable(path, capacity, "interface path buffer")) {
    return HidInterfaceStatus::failed;
  }
  if (index >= set->listed.size()) {
    return HidInterfaceStatus::end;
  }
  const test::FakeHidInterface& i = fake.interfaces[set->listed[index]];
  if (i.path_fails) {
    return HidInterfaceStatus::failed;
  }
  std::snprintf(path, capacity, "%s", i.path.c_str());
  return HidInterfaceStatus::found;
}

bool hid_backend_interface_ids(HidInterfaceSet* set, uint32_t index, uint16_t& vendor_id, uint16_t& product_id) {
  if (index >= set->listed.size()) {
    return false;
  }
  const test::FakeHidInterface& i = fake.interfaces[set->listed[index]];
  if (i.ids_hidden) {
    return false;
  }
  vendor_id = i.vendor_id;
  product_id = i.product_id;
  return true;
}

HidBackendDevice* hid_backend_open(const char* path) {
  const auto it = std::find_if(fake.interfaces.begin(), fake.interfaces.end(),
                               [&](const test::FakeHidInterface& i) { return i.path == path; });
  if (it == fake.interfaces.end()) {
    test::fake_breach(std::string("an interface path that was never handed out: ") + path);
    return nullptr;
  }
  if (it->open_fails) {
    last_error = it->open_error;
    return nullptr;
  }
  fake.opened.push_back(path);
  ++fake.open_handles;
  return new HidBackendDevice{static_cast<size_t>(it - fake.interfaces.begin())};
}

void hid_backend_close(HidBackendDevice* device) {
  if (!test::fake_holds(device != nullptr, "a null handle closed")) {
    return;
  }
  --fake.open_handles;
  delete device;
}

bool hid_backend_attributes(HidBackendDevice* device, uint16_t& vendor_id, uint16_t& product_id) {
  const test::FakeHidInterface& i = interface_of(device);
  vendor_id = i.vendor_id;
  product_id = i.product_id;
  return !i.attributes_fail;
}

bool hid_backend_caps(HidBackendDevice* device, uint16_t& usage_page, uint16_t& usage) {
  const test::FakeHidInterface& i = interface_of(device);
  usage_page = i.usage_page;
  usage = i.usage;
  return !i.caps_fail;
}

HidTransferResult hid_backend_transfer(HidBackendDevice* device, HidDirection direction, uint8_t* report,
                                       uint32_t length, uint32_t timeout_ms) {
  if (!test::fake_holds(device != nullptr, "a transfer on a null handle") ||
      !test::fake_holds(length >= 1, "a transfer without room for the report id") ||
      !test::fake_addressable(report, length, "report buffer")) {
    return {HidTransferStatus::failed, 0};
  }
  const test::FakeHidInterface& i = interface_of(device);
  const HidDirection other = direction == HidDirection::read ? HidDirection::write : HidDirection::read;
  test::FakeTransferRecord record{.direction = direction,
                                  .path = i.path,
                                  .length = length,
                                  .timeout_ms = timeout_ms,
                                  .own_lock_held = test::fake_hid_lock_held(direction),
                                  .other_lock_held = test::fake_hid_lock_held(other)};
  test::fake_holds(record.own_lock_held, "a transfer outside its direction's lock");
  if (direction == HidDirection::write) {
    record.report.assign(report, report + length);
  }
  fake.transfers.push_back(std::move(record));

  const HidTransferResult result = fake.answers == test::FakeHidAnswers::script
                                       ? scripted_answer(direction, report, length)
                                       : modelled_answer(i.device, direction, report, length);
  if (result.status == HidTransferStatus::failed) {
    last_error = fake.error_code;
  }
  return result;
}

long hid_backend_error_code() { return last_error; }

// As a host gives it: at most capacity - 1 bytes of the text and a NUL.
void hid_backend_error_text(long code, char* text, uint32_t capacity) {
  if (!test::fake_addressable(text, capacity, "error text buffer") || capacity == 0) {
    return;
  }
  const std::string_view source = code == fake.error_code ? std::string_view(fake.error_text) : std::string_view();
  const size_t n = std::min<size_t>(source.size(), capacity - 1);
  std::copy_n(source.begin(), n, text);
  text[n] = '\0';
}

bool hid_backend_access_denied(long code) { return code == fake.access_denied_code; }

namespace test {

FakeHid& fake_hid() { return fake; }

bool fake_hid_lock_held(HidDirection direction) { return fake.held[static_cast<size_t>(direction)]; }

std::string fake_hid_path(const HidBackendDevice* device) { return interface_of(device).path; }

void fake_hid_reset() {
  hid_list_clear();
  fake = FakeHid{};
  last_error = 0;
}

void fake_hid_check_settled(int open_entries) {
  fake_holds(!fake.held[0] && !fake.held[1], "a lock still held after the call");
  if (fake.open_handles != open_entries) {
    fake_breach(std::to_string(fake.open_handles) + " handles open, " + std::to_string(open_entries) +
                " open entries listed");
  }
}

}  // namespace test
}  // namespace cartdump

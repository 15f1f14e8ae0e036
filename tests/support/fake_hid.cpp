#include "tests/support/fake_hid.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/hid_link.h"

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

}  // namespace

void hid_backend_create_link_state() { ++fake.link_states_created; }

// One thread only: a lock taken twice would deadlock a real host, so it counts as a fault here.
void hid_backend_lock(HidDirection direction) {
  bool& held = fake.held[static_cast<size_t>(direction)];
  fake.lock_faults += held ? 1 : 0;
  held = true;
}

void hid_backend_unlock(HidDirection direction) {
  bool& held = fake.held[static_cast<size_t>(direction)];
  fake.lock_faults += held ? 0 : 1;
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

HidBackendDevice* hid_backend_open(const char* path) {
  const auto it = std::find_if(fake.interfaces.begin(), fake.interfaces.end(),
                               [&](const test::FakeHidInterface& i) { return i.path == path; });
  if (it == fake.interfaces.end() || it->open_fails) {
    last_error = 5;
    return nullptr;
  }
  fake.opened.push_back(path);
  ++fake.open_handles;
  return new HidBackendDevice{static_cast<size_t>(it - fake.interfaces.begin())};
}

void hid_backend_close(HidBackendDevice* device) {
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
  const test::FakeHidInterface& i = interface_of(device);
  const HidDirection other = direction == HidDirection::read ? HidDirection::write : HidDirection::read;
  test::FakeTransferRecord record{.direction = direction,
                                  .path = i.path,
                                  .length = length,
                                  .timeout_ms = timeout_ms,
                                  .own_lock_held = test::fake_hid_lock_held(direction),
                                  .other_lock_held = test::fake_hid_lock_held(other)};
  if (direction == HidDirection::write) {
    record.report.assign(report, report + length);
  }
  fake.transfers.push_back(record);

  switch (next_behaviour()) {
    case test::FakeTransfer::normal:
      return exchange(i.device, direction, report, length);
    case test::FakeTransfer::time_out:
      return {HidTransferStatus::timed_out, 0};
    case test::FakeTransfer::fail:
      last_error = fake.error_code;
      return {HidTransferStatus::failed, 0};
    case test::FakeTransfer::id_only:
      report[0] = 0;
      return {HidTransferStatus::done, 1};
    case test::FakeTransfer::oversize: {
      const HidTransferResult result = exchange(i.device, direction, report, length);
      return {result.status, length + 1};
    }
    case test::FakeTransfer::nothing:
      return {HidTransferStatus::done, 0};
  }
  return {HidTransferStatus::failed, 0};
}

long hid_backend_error_code() { return last_error; }

void hid_backend_error_text(long code, char* text, uint32_t capacity) {
  std::snprintf(text, capacity, "%s", code == fake.error_code ? fake.error_text.c_str() : "");
}

namespace test {

FakeHid& fake_hid() { return fake; }

bool fake_hid_lock_held(HidDirection direction) { return fake.held[static_cast<size_t>(direction)]; }

std::string fake_hid_path(const HidBackendDevice* device) { return interface_of(device).path; }

void fake_hid_reset() {
  hid_list_clear();
  fake = FakeHid{};
  last_error = 0;
}

}  // namespace test
}  // namespace cartdump

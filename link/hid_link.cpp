#include "link/hid_link.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

namespace cartdump {
namespace {

struct HidDeviceList {
  HidDeviceEntry* head = nullptr;
  HidDeviceEntry* tail = nullptr;
};

HidDeviceList device_list;

// The link state (the locks and, on some hosts, completion events) is the backend's: created at
// the first enumeration that may open a device, kept until the process ends.
bool link_state_created = false;

// Where hid_report_error prints (hid_set_error_stream).
bool hid_errors_to_stderr = false;

std::FILE* error_stream() { return hid_errors_to_stderr ? stderr : stdout; }

// Holds a direction's lock for one transfer and lets go of it on every path out.
class TransferGuard {
 public:
  explicit TransferGuard(HidDirection direction) : direction_(direction) { hid_backend_lock(direction_); }
  TransferGuard(const TransferGuard&) = delete;
  TransferGuard& operator=(const TransferGuard&) = delete;
  ~TransferGuard() { hid_backend_unlock(direction_); }

 private:
  HidDirection direction_;
};

// The backend's enumeration snapshot, released on every path out of hid_open_devices.
struct InterfaceSetGuard {
  HidInterfaceSet* set;
  ~InterfaceSetGuard() {
    if (set != nullptr) {
      hid_backend_close_set(set);
    }
  }
};

bool filter_rejects(int filter, uint16_t value) { return filter > 0 && filter != value; }

// The listed, open device at index, or null.
HidBackendDevice* usable_device(int index) {
  const HidDeviceEntry* entry = hid_list_at(index);
  return entry != nullptr && entry->open != 0 ? entry->handle : nullptr;
}

// Opens the interface at path and checks it against the filters; null when it does not match or
// cannot be described, with nothing left open.
HidBackendDevice* open_matching(const char* path, int vendor_id, int product_id, int usage_page, int usage) {
  HidBackendDevice* device = hid_backend_open(path);
  if (device == nullptr) {
    return nullptr;
  }
  if (!hid_device_matches(device, vendor_id, product_id, usage_page, usage)) {
    hid_backend_close(device);
    return nullptr;
  }
  return device;
}

// One transfer under its direction's lock. Returns the backend's count, 0 on time-out, -1 on
// failure (after printing the error, still under the lock).
int64_t locked_transfer(HidBackendDevice* device, HidDirection direction, uint8_t* report, uint32_t length,
                        uint32_t timeout_ms) {
  TransferGuard guard(direction);
  const HidTransferResult result = hid_backend_transfer(device, direction, report, length, timeout_ms);
  switch (result.status) {
    case HidTransferStatus::timed_out:
      return 0;
    case HidTransferStatus::failed:
      hid_report_error();
      return -1;
    case HidTransferStatus::done:
      break;
  }
  return result.transferred == 0 ? -1 : static_cast<int64_t>(result.transferred);
}

}  // namespace

void hid_list_append(HidDeviceEntry* entry) {
  entry->next = nullptr;
  entry->prev = device_list.tail;
  if (device_list.tail != nullptr) {
    device_list.tail->next = entry;
  } else {
    device_list.head = entry;
  }
  device_list.tail = entry;
}

HidDeviceEntry* hid_list_at(int index) {
  HidDeviceEntry* entry = device_list.head;
  for (int step = 0; step < index && entry != nullptr; ++step) {
    entry = entry->next;
  }
  return entry;
}

void hid_list_clear() {
  HidDeviceEntry* entry = device_list.head;
  while (entry != nullptr) {
    HidDeviceEntry* next = entry->next;
    if (entry->open != 0 && entry->handle != nullptr) {
      hid_backend_close(entry->handle);
    }
    delete entry;
    entry = next;
  }
  device_list = HidDeviceList{};
}

int hid_open_devices(int max_count, int vendor_id, int product_id, int usage_page, int usage) {
  if (device_list.head != nullptr) {
    hid_list_clear();
  }
  if (max_count < 1) {
    return 0;
  }
  if (!link_state_created) {
    hid_backend_create_link_state();
    link_state_created = true;
  }
  const InterfaceSetGuard interfaces{hid_backend_open_set()};
  if (interfaces.set == nullptr) {
    return 0;
  }
  int count = 0;
  std::array<char, kHidPathCapacity> path{};
  for (uint32_t index = 0;; ++index) {
    const HidInterfaceStatus status = hid_backend_interface_path(interfaces.set, index, path.data(), kHidPathCapacity);
    if (status == HidInterfaceStatus::end) {
      return count;
    }
    if (status == HidInterfaceStatus::failed) {
      continue;
    }
    HidBackendDevice* device = open_matching(path.data(), vendor_id, product_id, usage_page, usage);
    if (device == nullptr) {
      continue;
    }
    auto* entry = new (std::nothrow) HidDeviceEntry{device, 1, nullptr, nullptr, path};
    if (entry == nullptr) {
      hid_backend_close(device);
      continue;
    }
    entry->path.back() = '\0';
    hid_list_append(entry);
    if (++count == max_count) {
      return count;
    }
  }
}

int hid_read_report(int index, uint8_t* destination, uint32_t length, uint32_t timeout_ms) {
  if (length > kHidMaxPayload || (destination == nullptr && length > 0)) {
    return -1;
  }
  HidBackendDevice* device = usable_device(index);
  if (device == nullptr) {
    return -1;
  }
  std::array<uint8_t, kHidReportBufferSize> report{};
  const int64_t transferred = locked_transfer(device, HidDirection::read, report.data(), length + 1, timeout_ms);
  if (transferred <= 0) {
    return static_cast<int>(transferred);
  }
  // The report id in byte 0 is not examined. Whatever count the platform gives, no more than
  // length bytes reach the destination.
  const auto n = static_cast<uint32_t>(std::min<int64_t>(transferred - 1, length));
  std::memcpy(destination, report.data() + 1, n);
  return static_cast<int>(n);
}

int hid_write_report(int index, const uint8_t* source, uint32_t length, uint32_t timeout_ms) {
  if (length > kHidMaxPayload || (source == nullptr && length > 0)) {
    return -1;
  }
  HidBackendDevice* device = usable_device(index);
  if (device == nullptr) {
    return -1;
  }
  std::array<uint8_t, kHidReportBufferSize> report{};
  report[0] = 0;  // report id
  if (length > 0) {
    std::memcpy(report.data() + 1, source, length);
  }
  const int64_t transferred = locked_transfer(device, HidDirection::write, report.data(), length + 1, timeout_ms);
  if (transferred <= 0) {
    return static_cast<int>(transferred);
  }
  return static_cast<int>(std::min<int64_t>(transferred - 1, INT32_MAX));
}

const char* hid_device_path(int index) {
  const HidDeviceEntry* entry = index >= 0 ? hid_list_at(index) : nullptr;
  return entry != nullptr ? entry->path.data() : "";
}

void hid_close_device(int index) {
  HidDeviceEntry* entry = hid_list_at(index);
  if (entry == nullptr || entry->open == 0) {
    return;
  }
  hid_backend_close(entry->handle);
  entry->handle = nullptr;
  entry->open = 0;
}

bool hid_device_matches(HidBackendDevice* device, int vendor_id, int product_id, int usage_page, int usage) {
  uint16_t vendor = 0;
  uint16_t product = 0;
  uint16_t page = 0;
  uint16_t use = 0;
  return hid_backend_attributes(device, vendor, product) && !filter_rejects(vendor_id, vendor) &&
         !filter_rejects(product_id, product) && hid_backend_caps(device, page, use) &&
         !filter_rejects(usage_page, page) && !filter_rejects(usage, use);
}

void hid_report_error() {
  const long code = hid_backend_error_code();
  std::array<char, 256> text{};
  hid_backend_error_text(code, text.data(), static_cast<uint32_t>(text.size()));
  text.back() = '\0';
  std::fprintf(error_stream(), "err %ld: %s\n", code, text.data());
  std::fflush(error_stream());
}

void hid_set_error_stream(int standard_error) { hid_errors_to_stderr = standard_error != 0; }

void hid_send(const uint8_t* report) { hid_write_report(0, report, kHidPayloadSize, kHidTimeoutMs); }

int hid_exchange(const uint8_t* report, uint8_t* reply) {
  std::memset(reply, 0, kHidPayloadSize);
  hid_write_report(0, report, kHidPayloadSize, kHidTimeoutMs);
  return hid_read_report(0, reply, kHidPayloadSize, kHidTimeoutMs);
}

}  // namespace cartdump

// The HID report link's host side on Linux and macOS, on hidapi (the hidraw flavour on Linux).
//
// How it meets hid_backend.h: the set is a snapshot of hid_enumerate(0, 0), one interface per
// device path, with the vendor and product ids the enumeration read from sysfs without opening the
// device; hid_open_path opens it; hid_get_device_info gives vendor, product, usage page and
// usage; a read is hid_read_timeout into the bytes after the report id, a write is hid_write of the
// whole report (report id 0 first). The link state is hid_init and a mutex per direction. The
// error code is the errno of the failed call, its text strerror's; EACCES and EPERM
// are access refused.
//
// hidapi's transfers are synchronous: a read waits at most its time-out and leaves nothing in
// flight, so a timed-out read needs no cancelling.
#include <hidapi.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "link/hid_backend.h"

namespace cartdump {

struct HidInterfaceId {
  uint16_t vendor_id;
  uint16_t product_id;
};

struct HidInterfaceSet {
  std::vector<std::string> paths;
  std::vector<HidInterfaceId> ids;  // one per path
};

struct HidBackendDevice {
  hid_device* device;
};

namespace {

long last_error = 0;
std::mutex read_lock;
std::mutex write_lock;

std::mutex& lock_of(HidDirection direction) { return direction == HidDirection::read ? read_lock : write_lock; }

// Keeps the errno of a failed hidapi call; a failure that left none counts as an I/O error.
void record_failure() { last_error = errno != 0 ? errno : EIO; }

}  // namespace

void hid_backend_create_link_state() { hid_init(); }

void hid_backend_lock(HidDirection direction) { lock_of(direction).lock(); }

void hid_backend_unlock(HidDirection direction) { lock_of(direction).unlock(); }

HidInterfaceSet* hid_backend_open_set() {
  auto* set = new (std::nothrow) HidInterfaceSet;
  if (set == nullptr) {
    return nullptr;
  }
  // hid_enumerate gives null both for no device and for a failure; either way nothing is listed.
  hid_device_info* devices = hid_enumerate(0, 0);
  for (const hid_device_info* d = devices; d != nullptr; d = d->next) {
    // A device with several top-level collections may come once per collection, under one path;
    // the first stands for the interface.
    if (d->path != nullptr && (set->paths.empty() || set->paths.back() != d->path)) {
      set->paths.emplace_back(d->path);
      set->ids.push_back({d->vendor_id, d->product_id});
    }
  }
  hid_free_enumeration(devices);
  return set;
}

void hid_backend_close_set(HidInterfaceSet* set) { delete set; }

HidInterfaceStatus hid_backend_interface_path(HidInterfaceSet* set, uint32_t index, char* path, uint32_t capacity) {
  if (index >= set->paths.size()) {
    return HidInterfaceStatus::end;
  }
  const std::string& p = set->paths[index];
  if (p.size() >= capacity) {
    return HidInterfaceStatus::failed;
  }
  std::memcpy(path, p.c_str(), p.size() + 1);
  return HidInterfaceStatus::found;
}

bool hid_backend_interface_ids(HidInterfaceSet* set, uint32_t index, uint16_t& vendor_id, uint16_t& product_id) {
  if (index >= set->ids.size()) {
    return false;
  }
  vendor_id = set->ids[index].vendor_id;
  product_id = set->ids[index].product_id;
  return true;
}

HidBackendDevice* hid_backend_open(const char* path) {
  errno = 0;
  hid_device* device = hid_open_path(path);
  if (device == nullptr) {
    record_failure();
    return nullptr;
  }
  auto* opened = new (std::nothrow) HidBackendDevice{device};
  if (opened == nullptr) {
    hid_close(device);
  }
  return opened;
}

void hid_backend_close(HidBackendDevice* device) {
  if (device != nullptr) {
    hid_close(device->device);
    delete device;
  }
}

bool hid_backend_attributes(HidBackendDevice* device, uint16_t& vendor_id, uint16_t& product_id) {
  const hid_device_info* info = hid_get_device_info(device->device);
  if (info == nullptr) {
    return false;
  }
  vendor_id = info->vendor_id;
  product_id = info->product_id;
  return true;
}

bool hid_backend_caps(HidBackendDevice* device, uint16_t& usage_page, uint16_t& usage) {
  const hid_device_info* info = hid_get_device_info(device->device);
  if (info == nullptr) {
    return false;
  }
  usage_page = info->usage_page;
  usage = info->usage;
  return true;
}

HidTransferResult hid_backend_transfer(HidBackendDevice* device, HidDirection direction, uint8_t* report,
                                       uint32_t length, uint32_t timeout_ms) {
  errno = 0;
  if (direction == HidDirection::write) {
    // The whole report goes out, report id 0 first; hidraw sends the rest as the report.
    const int n = hid_write(device->device, report, length);
    if (n < 0) {
      record_failure();
      return {last_error == ETIMEDOUT ? HidTransferStatus::timed_out : HidTransferStatus::failed, 0};
    }
    return {HidTransferStatus::done, static_cast<uint32_t>(n)};
  }
  // The device's reports carry no id on the wire: hidapi hands over the payload alone, which goes
  // behind report id 0.
  report[0] = 0;
  if (length < 2) {
    return {HidTransferStatus::done, length};
  }
  const int wait = timeout_ms > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeout_ms);
  const int n = hid_read_timeout(device->device, report + 1, length - 1, wait);
  if (n < 0) {
    record_failure();
    return {HidTransferStatus::failed, 0};
  }
  if (n == 0) {
    return {HidTransferStatus::timed_out, 0};
  }
  return {HidTransferStatus::done, static_cast<uint32_t>(n) + 1};
}

long hid_backend_error_code() { return last_error; }

void hid_backend_error_text(long code, char* text, uint32_t capacity) {
  if (capacity == 0) {
    return;
  }
  const char* message = code != 0 ? std::strerror(static_cast<int>(code)) : "";
  std::snprintf(text, capacity, "%s", message);
}

bool hid_backend_access_denied(long code) { return code == EACCES || code == EPERM; }

}  // namespace cartdump

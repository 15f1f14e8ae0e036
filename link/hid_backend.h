// The operating system's side of the HID report link: what hid_link.cpp needs from the host and
// nothing more. One implementation per platform (hid_posix.cpp on hidapi's hidraw flavour,
// hid_win32.cpp); the unit tests put a fake behind the same functions.
//
// The portable link above keeps the device list, the filters and their order, the 516-byte limit,
// the report id, when each direction's lock is taken and let go, and the results. A backend
// enumerates, opens, describes, moves one report at a time, and provides the locks themselves.
// Each platform's file tells which of the host's calls do so.
#pragma once

#include <cstdint>

namespace cartdump {

// A backend's opened HID interface.
struct HidBackendDevice;
// A backend's snapshot of the present HID interfaces, in the host's enumeration order.
struct HidInterfaceSet;

inline constexpr uint32_t kHidPathCapacity = 1024;

enum class HidDirection : uint8_t { read, write };

enum class HidInterfaceStatus : uint8_t {
  found,   // path holds the interface's device path
  failed,  // there is an interface at this index but its path could not be had: skip it
  end,     // no interface at this index: the enumeration is over
};

enum class HidTransferStatus : uint8_t { done, timed_out, failed };

struct HidTransferResult {
  HidTransferStatus status = HidTransferStatus::failed;
  uint32_t transferred = 0;  // bytes moved, report id included, as the platform counts them
};

// The link state that lives until the process ends: a lock per direction, and whatever else the
// platform's transfers need. Called once, before the first enumeration that may open a device, so
// before any transfer.
void hid_backend_create_link_state();

// A direction's lock, taken before a transfer starts and let go once it has been dealt with.
void hid_backend_lock(HidDirection direction);
void hid_backend_unlock(HidDirection direction);

// The present HID interfaces; null when the set cannot be had.
HidInterfaceSet* hid_backend_open_set();
void hid_backend_close_set(HidInterfaceSet* set);

// The device path of the interface at a running index (0, 1, 2, ...), NUL-terminated.
HidInterfaceStatus hid_backend_interface_path(HidInterfaceSet* set, uint32_t index, char* path,
                                              uint32_t capacity);

// The vendor and product ids of the interface at a running index as the enumeration knows them,
// without opening it for transfers; false when the host does not tell them that way.
bool hid_backend_interface_ids(HidInterfaceSet* set, uint32_t index, uint16_t& vendor_id, uint16_t& product_id);

// Opens a device path for reading and writing; null on failure.
HidBackendDevice* hid_backend_open(const char* path);
void hid_backend_close(HidBackendDevice* device);

// Vendor and product ids of an opened device; false when they cannot be had.
bool hid_backend_attributes(HidBackendDevice* device, uint16_t& vendor_id, uint16_t& product_id);
// Usage page and usage of the device's top-level collection; false when they cannot be had.
bool hid_backend_caps(HidBackendDevice* device, uint16_t& usage_page, uint16_t& usage);

// One report of length bytes (report id in byte 0, then the payload) read into or written from
// report, waiting at most timeout_ms. A transfer that times out is cancelled, and the call
// returns only once the platform has let go of report. On failure the error code and text below
// describe it.
HidTransferResult hid_backend_transfer(HidBackendDevice* device, HidDirection direction, uint8_t* report,
                                       uint32_t length, uint32_t timeout_ms);

// The code of the last failure the host reported, and the host's text for a code (empty when the
// host has none), at most capacity - 1 characters and a NUL.
long hid_backend_error_code();
void hid_backend_error_text(long code, char* text, uint32_t capacity);
// Whether a code means that the host refused access (on Linux: the hidraw node's permissions).
bool hid_backend_access_denied(long code);

}  // namespace cartdump

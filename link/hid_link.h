// The HID report link: the device as a HID device. Matching HID interfaces are opened into a
// process-wide list, and single reports move to and from a listed device: report id 0 and the
// payload out, a report id and the payload in. Every transfer has a time-out; each direction has
// a lock of its own, held from before a transfer starts until it has completed, timed out or
// failed.
//
// Calling order: hid_open_devices, then transfers on a listed index, one after the other.
// hid_open_devices and hid_close_device must not run while a transfer is in flight.
#pragma once

#include <array>
#include <cstdint>

#include "link/hid_backend.h"

namespace cartdump {

// Report id byte and the largest payload: 516 bytes in all per transfer.
inline constexpr uint32_t kHidReportBufferSize = 516;
inline constexpr uint32_t kHidMaxPayload = kHidReportBufferSize - 1;

// The system's own use of the link: 64-byte payloads on device 0, 100 ms per transfer.
inline constexpr uint32_t kHidPayloadSize = 64;
inline constexpr uint32_t kHidTimeoutMs = 100;

// One opened device, owned by the list.
struct HidDeviceEntry {
  HidBackendDevice* handle;  // null after hid_close_device
  int32_t open;              // 1 while the handle may be used
  HidDeviceEntry* prev;
  HidDeviceEntry* next;
  std::array<char, kHidPathCapacity> path{};  // the device path it was opened from
};

// Empties the list, then opens and lists, in enumeration order, up to max_count present devices
// that match. A filter of 0 or less matches anything; the vendor and product are checked before
// the usage page and usage. Returns the number listed.
int hid_open_devices(int max_count, int vendor_id, int product_id, int usage_page, int usage);

// Reads one report from the listed device at index and copies at most length payload bytes (the
// report id is skipped) into destination. Returns the bytes copied (0 for a report of its id
// alone), 0 when timeout_ms passed, -1 on failure.
int hid_read_report(int index, uint8_t* destination, uint32_t length, uint32_t timeout_ms);

// Writes report id 0 and length bytes of source to the listed device at index. Returns the
// payload bytes written, 0 when timeout_ms passed, -1 on failure.
int hid_write_report(int index, const uint8_t* source, uint32_t length, uint32_t timeout_ms);

// The device path of the listed device at index; "" when none is listed there.
const char* hid_device_path(int index);

// Closes the listed device at index; it stays listed, refusing transfers, until the next
// hid_open_devices. Closing a closed or unlisted device does nothing.
void hid_close_device(int index);

// Whether an opened device passes the filters as hid_open_devices tests them: its vendor and
// product ids, then the usage page and usage of its top-level collection. A filter of 0 or less
// matches anything; a device that cannot be described does not pass.
bool hid_device_matches(HidBackendDevice* device, int vendor_id, int product_id, int usage_page, int usage);

// Prints "err <code>: <text>\n" for the host's last error to standard output, or to standard
// error once hid_set_error_stream(1) has been called (a run whose standard output carries data
// alone); hid_set_error_stream(0) goes back to standard output.
void hid_report_error();
void hid_set_error_stream(int standard_error);

// The list itself, which owns its entries: an appended entry is allocated with new and freed by
// hid_list_clear. hid_list_at walks index steps from the head (index 0 or less: the head) and
// gives null when the list ends first; hid_list_clear closes every open handle and frees every
// entry.
void hid_list_append(HidDeviceEntry* entry);
HidDeviceEntry* hid_list_at(int index);
void hid_list_clear();

// The system's exchanges with device 0: one 64-byte report written, and for hid_exchange one
// 64-byte reply read into reply, cleared first, so that it stays all zero when no reply came.
// The system does not use the results of the transfers; a failure has printed its line.
// hid_exchange returns what the read returned (above 0 when a reply came).
void hid_send(const uint8_t* report);
int hid_exchange(const uint8_t* report, uint8_t* reply);

}  // namespace cartdump

// The HID report link's host side on Windows: the HID class driver's interfaces found through
// SetupAPI, each device opened as an overlapped file, one report per ReadFile or WriteFile.
//
// How it meets hid_backend.h:
//   - The link state is, per direction, an unnamed manual-reset event created signalled
//     (CreateEventA) that completes its transfers, and a CRITICAL_SECTION
//     (InitializeCriticalSection; the locks are EnterCriticalSection and LeaveCriticalSection);
//     both are made once and kept until the process ends.
//   - The set is SetupDiGetClassDevsA on the HidD_GetHidGuid class with DIGCF_PRESENT |
//     DIGCF_DEVICEINTERFACE; an interface by index is SetupDiEnumDeviceInterfaces
//     (ERROR_NO_MORE_ITEMS: end) and its path comes from SetupDiGetDeviceInterfaceDetailA, asked
//     twice (size, then record), the record freed once the path is copied.
//   - The ids of an interface without opening it for transfers: its path opened with access 0
//     (CreateFileA, which works where the device cannot be opened for reading and writing) and
//     HidD_GetAttributes.
//   - Open is CreateFileA with GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
//     OPEN_EXISTING, FILE_FLAG_OVERLAPPED; the opened device is that overlapped file handle.
//   - Attributes are HidD_GetAttributes; caps are HidD_GetPreparsedData, HidP_GetCaps and
//     HidD_FreePreparsedData.
//   - Every transfer is asynchronous with a time-out: it resets its direction's event, starts
//     ReadFile or WriteFile with an OVERLAPPED whose hEvent is that event, treats ERROR_IO_PENDING
//     as under way, and waits with WaitForSingleObject. On WAIT_TIMEOUT (or a failed wait) it
//     calls CancelIo and then GetOverlappedResult with bWait = TRUE: until the cancelled transfer
//     has finished, the system may still write into the caller's report buffer and the OVERLAPPED,
//     which live on the caller's stack. Otherwise GetOverlappedResult with bWait = FALSE gives the
//     byte count.
//   - The error code is GetLastError() taken at the failure (before the cancel, which may change
//     it), its text FormatMessageA from the system message table in the default language;
//     ERROR_ACCESS_DENIED is access refused.
#include <windows.h>
// The HID and SetupAPI headers need windows.h first. MinGW's hidsdi.h declares its functions
// without C linkage of its own.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "link/hid_backend.h"

namespace cartdump {

struct HidInterfaceSet {
  HDEVINFO devices;
  GUID hid_class;
};

struct HidBackendDevice {
  HANDLE handle;
};

namespace {

struct DirectionState {
  HANDLE completed = nullptr;  // manual-reset event, the completion signal of every transfer
  CRITICAL_SECTION lock{};
};

DirectionState read_state;
DirectionState write_state;

DWORD last_error = 0;

DirectionState& state_of(HidDirection direction) { return direction == HidDirection::read ? read_state : write_state; }

// The vendor and product ids of an open handle, of any access.
bool handle_ids(HANDLE handle, uint16_t& vendor_id, uint16_t& product_id) {
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (!::HidD_GetAttributes(handle, &attributes)) {
    return false;
  }
  vendor_id = attributes.VendorID;
  product_id = attributes.ProductID;
  return true;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The detail record of one interface, asked for twice: its size, then the record.
using DetailRecord = std::unique_ptr<SP_DEVICE_INTERFACE_DETAIL_DATA_A, FreeDeleter>;

DetailRecord interface_detail(HidInterfaceSet* set, SP_DEVICE_INTERFACE_DATA& interface) {
  DWORD size = 0;
  ::SetupDiGetDeviceInterfaceDetailA(set->devices, &interface, nullptr, 0, &size, nullptr);
  if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    return nullptr;
  }
  DetailRecord detail(static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, size)));
  if (!detail) {
    return nullptr;
  }
  // The size field holds the size of the fixed part, not of the whole allocation.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!::SetupDiGetDeviceInterfaceDetailA(set->devices, &interface, detail.get(), size, nullptr, nullptr)) {
    return nullptr;
  }
  return detail;
}

// Starts the transfer; true when it finished at once or is under way.
bool start_transfer(HANDLE handle, HidDirection direction, uint8_t* report, DWORD length, OVERLAPPED& overlapped) {
  const BOOL started = direction == HidDirection::read ? ::ReadFile(handle, report, length, nullptr, &overlapped)
                                                       : ::WriteFile(handle, report, length, nullptr, &overlapped);
  return started || ::GetLastError() == ERROR_IO_PENDING;
}

// Cancels a transfer under way and waits until the system has let go of its buffer and record.
void cancel_and_settle(HANDLE handle, OVERLAPPED& overlapped) {
  ::CancelIo(handle);
  DWORD ignored = 0;
  ::GetOverlappedResult(handle, &overlapped, &ignored, TRUE);
}

}  // namespace

void hid_backend_create_link_state() {
  for (DirectionState* state : {&read_state, &write_state}) {
    state->completed = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ::InitializeCriticalSection(&state->lock);
  }
}

void hid_backend_lock(HidDirection direction) { ::EnterCriticalSection(&state_of(direction).lock); }

void hid_backend_unlock(HidDirection direction) { ::LeaveCriticalSection(&state_of(direction).lock); }

HidInterfaceSet* hid_backend_open_set() {
  GUID hid_class{};
  ::HidD_GetHidGuid(&hid_class);
  HDEVINFO devices = ::SetupDiGetClassDevsA(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (devices == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  auto* set = new (std::nothrow) HidInterfaceSet{devices, hid_class};
  if (set == nullptr) {
    ::SetupDiDestroyDeviceInfoList(devices);
  }
  return set;
}

void hid_backend_close_set(HidInterfaceSet* set) {
  if (set != nullptr) {
    ::SetupDiDestroyDeviceInfoList(set->devices);
    delete set;
  }
}

HidInterfaceStatus hid_backend_interface_path(HidInterfaceSet* set, uint32_t index, char* path, uint32_t capacity) {
  SP_DEVICE_INTERFACE_DATA interface{};
  interface.cbSize = sizeof interface;
  // Whatever the reason (ERROR_NO_MORE_ITEMS, normally), no interface at this index ends the
  // enumeration: indices are dense.
  if (!::SetupDiEnumDeviceInterfaces(set->devices, nullptr, &set->hid_class, index, &interface)) {
    return HidInterfaceStatus::end;
  }
  const DetailRecord detail = interface_detail(set, interface);
  if (!detail) {
    return HidInterfaceStatus::failed;
  }
  const size_t length = std::strlen(detail->DevicePath);
  if (length >= capacity) {
    return HidInterfaceStatus::failed;
  }
  std::memcpy(path, detail->DevicePath, length + 1);
  return HidInterfaceStatus::found;
}

bool hid_backend_interface_ids(HidInterfaceSet* set, uint32_t index, uint16_t& vendor_id, uint16_t& product_id) {
  char path[kHidPathCapacity];
  if (hid_backend_interface_path(set, index, path, kHidPathCapacity) != HidInterfaceStatus::found) {
    return false;
  }
  HANDLE handle =
      ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool got = handle_ids(handle, vendor_id, product_id);
  ::CloseHandle(handle);
  return got;
}

HidBackendDevice* hid_backend_open(const char* path) {
  HANDLE handle = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    last_error = ::GetLastError();
    return nullptr;
  }
  auto* device = new (std::nothrow) HidBackendDevice{handle};
  if (device == nullptr) {
    ::CloseHandle(handle);
  }
  return device;
}

void hid_backend_close(HidBackendDevice* device) {
  if (device != nullptr) {
    ::CloseHandle(device->handle);
    delete device;
  }
}

bool hid_backend_attributes(HidBackendDevice* device, uint16_t& vendor_id, uint16_t& product_id) {
  return handle_ids(device->handle, vendor_id, product_id);
}

bool hid_backend_caps(HidBackendDevice* device, uint16_t& usage_page, uint16_t& usage) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!::HidD_GetPreparsedData(device->handle, &preparsed)) {
    return false;
  }
  HIDP_CAPS caps{};
  const bool got = ::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
  ::HidD_FreePreparsedData(preparsed);
  if (!got) {
    return false;
  }
  usage_page = caps.UsagePage;
  usage = caps.Usage;
  return true;
}

HidTransferResult hid_backend_transfer(HidBackendDevice* device, HidDirection direction, uint8_t* report,
                                       uint32_t length, uint32_t timeout_ms) {
  DirectionState& state = state_of(direction);
  if (state.completed == nullptr) {
    // The link state could not be made: no transfer can be waited for.
    last_error = ERROR_INVALID_HANDLE;
    return {HidTransferStatus::failed, 0};
  }
  ::ResetEvent(state.completed);
  OVERLAPPED overlapped{};
  overlapped.hEvent = state.completed;
  if (!start_transfer(device->handle, direction, report, length, overlapped)) {
    last_error = ::GetLastError();
    return {HidTransferStatus::failed, 0};
  }
  const DWORD wait = ::WaitForSingleObject(state.completed, timeout_ms);
  if (wait == WAIT_TIMEOUT) {
    cancel_and_settle(device->handle, overlapped);
    return {HidTransferStatus::timed_out, 0};
  }
  if (wait != WAIT_OBJECT_0) {
    // The code of the failed wait, taken before the cancel can change it.
    last_error = ::GetLastError();
    cancel_and_settle(device->handle, overlapped);
    return {HidTransferStatus::failed, 0};
  }
  DWORD transferred = 0;
  if (!::GetOverlappedResult(device->handle, &overlapped, &transferred, FALSE)) {
    last_error = ::GetLastError();
    return {HidTransferStatus::failed, 0};
  }
  return {HidTransferStatus::done, transferred};
}

long hid_backend_error_code() { return static_cast<long>(last_error); }

void hid_backend_error_text(long code, char* text, uint32_t capacity) {
  if (capacity == 0) {
    return;
  }
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                                   capacity, nullptr);
  text[n < capacity ? n : capacity - 1] = '\0';
}

bool hid_backend_access_denied(long code) { return code == ERROR_ACCESS_DENIED; }

}  // namespace cartdump

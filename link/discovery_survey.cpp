#include "link/discovery_survey.h"

#include <algorithm>
#include <memory>
#include <new>

#include "link/device_link.h"
#include "link/discovery.h"
#include "link/drive_walk.h"
#include "link/hid_link.h"

namespace cartdump {

DiscoverySurvey discovery_survey{};

namespace {

// The walk asks for labels with a buffer of 63 characters: at most 62 and the terminator.
constexpr uint32_t kLabelBufferSize = kNameCapacity - 1;

struct InterfaceSetCloser {
  void operator()(HidInterfaceSet* set) const { hid_backend_close_set(set); }
};
using InterfaceSet = std::unique_ptr<HidInterfaceSet, InterfaceSetCloser>;

// Text of source_size bytes up to its first NUL, at most capacity - 1 characters, terminated.
template <size_t Capacity>
void copy_text(std::array<char, Capacity>& field, const uint8_t* source, size_t source_size) {
  const size_t limit = std::min(source_size, Capacity - 1);
  const auto* end = std::find(source, source + limit, uint8_t{0});
  field.fill('\0');
  std::copy(source, end, field.begin());
}

// The interface as HID device 0, asked its name; the list closes it again.
void ask_name(HidBackendDevice* device, HidSurveyEntry& entry) {
  auto* listed = new (std::nothrow) HidDeviceEntry{device, 1, nullptr, nullptr};
  if (listed == nullptr) {
    hid_backend_close(device);
    entry.status = HidSurveyStatus::silent;
    return;
  }
  hid_list_append(listed);
  std::array<uint8_t, kHidPayloadSize> report{};
  report[0] = kOpcodeQueryName;
  std::array<uint8_t, kHidPayloadSize> reply{};
  const bool answered = hid_exchange(report.data(), reply.data()) > 0;
  hid_list_clear();
  entry.status = answered ? HidSurveyStatus::answered : HidSurveyStatus::silent;
  if (answered) copy_text(entry.name, reply.data(), reply.size());
}

// One interface of the enumeration: an entry when its ids are the reader's (or, where the host
// does not tell ids without an open, when it opens as the reader's).
void survey_interface(HidInterfaceSet* set, uint32_t index, const char* path) {
  uint16_t vendor = 0;
  uint16_t product = 0;
  const bool ids_known = hid_backend_interface_ids(set, index, vendor, product);
  if (ids_known && (vendor != kHidVendorId || product != kHidProductId)) {
    return;
  }
  HidSurveyEntry entry{};
  copy_text(entry.path, reinterpret_cast<const uint8_t*>(path), kHidPathCapacity);
  HidBackendDevice* device = hid_backend_open(path);
  if (device == nullptr) {
    if (!ids_known) return;
    entry.status = HidSurveyStatus::not_opened;
    entry.error_code = hid_backend_error_code();
    entry.access_denied = hid_backend_access_denied(entry.error_code) ? 1 : 0;
    hid_backend_error_text(entry.error_code, entry.error_text.data(), kSurveyErrorCapacity);
    entry.error_text.back() = '\0';
  } else if (!hid_device_matches(device, kHidVendorId, kHidProductId, -1, -1)) {
    hid_backend_close(device);
    if (!ids_known) return;
    entry.status = HidSurveyStatus::not_described;
  } else {
    ask_name(device, entry);
  }
  discovery_survey.hid.push_back(entry);
}

void survey_hid() {
  const InterfaceSet set(hid_backend_open_set());
  if (!set) {
    return;
  }
  std::array<char, kHidPathCapacity> path{};
  for (uint32_t index = 0;; ++index) {
    const HidInterfaceStatus status = hid_backend_interface_path(set.get(), index, path.data(), kHidPathCapacity);
    if (status == HidInterfaceStatus::end) {
      return;
    }
    if (status == HidInterfaceStatus::found) {
      survey_interface(set.get(), index, path.data());
    }
  }
}

void survey_volumes() {
  const DriveWalkQuiet quiet;
  for (const DriveVolume& volume : drive_walk_volumes()) {
    VolumeSurveyEntry entry{};
    entry.root = volume.root;
    entry.removable = volume.removable ? 1 : 0;
    // A volume without a name (Windows gives "" for it) has no label either.
    entry.has_label = drive_walk_label(volume, entry.label.data(), kLabelBufferSize) && entry.label[0] != '\0' ? 1 : 0;
    std::array<uint8_t, kIdentityBlockSize> block{};
    if (drive_volume_identity(volume, block.data())) {
      entry.reader = 1;
      copy_text(entry.name, block.data(), block.size());
      if (discovery_survey.chosen_volume < 0) {
        discovery_survey.chosen_volume = static_cast<int32_t>(discovery_survey.volumes.size());
      }
    }
    discovery_survey.volumes.push_back(entry);
  }
}

}  // namespace

int survey_devices() {
  discovery_survey = DiscoverySurvey{};
  discovery_survey.chosen_hid = -1;
  discovery_survey.chosen_volume = -1;
  const DeviceState saved = device_state;

  // The HID step itself decides the link; the listing then opens each interface on its own.
  const bool hid_found = find_hid_device();
  hid_list_clear();
  survey_hid();
  survey_volumes();
  device_state = saved;

  if (hid_found) {
    discovery_survey.link_kind = kLinkHid;
    // HID device 0 is the first interface that opens and passes the filters.
    const auto& hid = discovery_survey.hid;
    const auto first = std::find_if(hid.begin(), hid.end(), [](const HidSurveyEntry& e) {
      return e.status == HidSurveyStatus::answered || e.status == HidSurveyStatus::silent;
    });
    discovery_survey.chosen_hid = first == hid.end() ? -1 : static_cast<int32_t>(first - hid.begin());
  } else if (discovery_survey.chosen_volume >= 0) {
    discovery_survey.link_kind = kLinkDrive;
  }
  return discovery_survey.link_kind != 0 ? 1 : 0;
}

}  // namespace cartdump

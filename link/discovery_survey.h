// What discovery sees, step by step, for n64dump --devices: the HID interfaces with the reader's
// ids, every volume of the walk, and which of them a dump would use. Nothing is dumped and no
// command sector is sent; of a HID interface only its name is asked (an information query).
//
// The survey takes discovery's own steps, in discovery's order, so that it shows what a run would
// find: the HID step (find_hid_device) decides whether a dump uses the HID link; the drive step's
// test of a volume (drive_volume_identity) decides which volumes carry the reader's identity
// block, and the first of them is the one a dump would use. Unlike the walk it goes on past that
// volume, and asks every volume for its label; it probes with the host kept quiet about drives
// without a medium (DriveWalkQuiet), as the walk does.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "link/device_state.h"
#include "link/hid_backend.h"

namespace cartdump {

inline constexpr uint32_t kSurveyErrorCapacity = 256;

enum class HidSurveyStatus : uint8_t {
  answered,         // opened; name holds its answer to the name query
  silent,           // opened, but no answer to the name query came
  not_opened,       // the host would not open it: error_code and error_text say why
  not_described,    // opened, but its attributes or its top-level collection could not be read,
                    // so the HID step passes it over
};

// A HID interface whose ids (from the enumeration) are the reader's, in enumeration order.
struct HidSurveyEntry {
  std::array<char, kHidPathCapacity> path;
  HidSurveyStatus status;
  std::array<char, kNameCapacity> name;  // what it answered, up to its first NUL, at most 63 characters
  long error_code;
  uint8_t access_denied;  // 1 when the host refused access (hid_backend_access_denied)
  std::array<char, kSurveyErrorCapacity> error_text;
};

// A volume of the walk, in the walk's order.
struct VolumeSurveyEntry {
  std::array<char, kDriveRootCapacity> root;
  uint8_t removable;
  uint8_t reader;     // 1 when it carries a whole identity block (only removable volumes are probed)
  uint8_t has_label;  // 1 when the host gave a label, and not an empty one
  std::array<char, kNameCapacity> name;   // the device name from the identity block, when reader
  std::array<char, kNameCapacity> label;  // at most 62 characters, as the walk asks for it
};

struct DiscoverySurvey {
  std::vector<HidSurveyEntry> hid;
  std::vector<VolumeSurveyEntry> volumes;
  uint8_t link_kind;      // what a dump would use: kLinkHid, kLinkDrive, 0 for none
  int32_t chosen_hid;     // on the HID link: the entry of hid that is HID device 0, -1 when unknown
  int32_t chosen_volume;  // the first entry of volumes with reader set, -1 when none
};

extern DiscoverySurvey discovery_survey;

// Fills discovery_survey; leaves the DeviceState as it was, and the HID device list empty.
// Returns 1 when a dump would find a reader, 0 when not.
int survey_devices();

}  // namespace cartdump

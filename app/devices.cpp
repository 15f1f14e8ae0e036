#include "app/devices.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/console.h"
#include "app/extended.h"
#include "link/device_state.h"

namespace cartdump {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kNoAnswer = "no answer to the name query";
constexpr const char* kNotDescribed = "its attributes or its top-level collection could not be read";
constexpr const char* kUdevHint =
    "hint: the udev rule 70-cartdump.rules lets the logged-in user open the reader; install it (the "
    "package does) and load it: udevadm control --reload-rules && udevadm trigger";

// A NUL-terminated field.
template <size_t N>
std::string field_text(const std::array<char, N>& field) {
  return {field.data(), strnlen(field.data(), N)};
}

// Text from a device or the host for the console: printable ASCII alone, every other byte '?'.
std::string console_text(const std::string& text) {
  std::string out(text.size() + 1, '\0');
  console_safe_text(text.c_str(), out.data(), static_cast<uint32_t>(out.size()));
  out.resize(std::strlen(out.c_str()));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) > 0x7E) c = '?';
  }
  return out;
}

// Why an interface gives no name, or "" when it answered.
std::string hid_problem(const HidSurveyEntry& entry) {
  switch (entry.status) {
    case HidSurveyStatus::answered:
      return "";
    case HidSurveyStatus::silent:
      return kNoAnswer;
    case HidSurveyStatus::not_described:
      return kNotDescribed;
    case HidSurveyStatus::not_opened:
      break;
  }
  // Without the line break that Windows ends its texts with.
  std::string reason = field_text(entry.error_text);
  while (!reason.empty() && std::strchr(" \t\r\n", reason.back()) != nullptr) reason.pop_back();
  return reason.empty() ? "error " + std::to_string(entry.error_code) : reason;
}

// The root a dump would use, "HID " and the interface's path on the HID link, "" for none.
std::string chosen_text(const DiscoverySurvey& survey) {
  if (survey.link_kind == kLinkHid) {
    return survey.chosen_hid < 0 ? "HID" : "HID " + field_text(survey.hid[static_cast<size_t>(survey.chosen_hid)].path);
  }
  if (survey.link_kind == kLinkDrive) {
    return field_text(survey.volumes[static_cast<size_t>(survey.chosen_volume)].root);
  }
  return "";
}

void add_hid_lines(const DiscoverySurvey& survey, std::vector<ReportLine>& lines) {
  if (survey.hid.empty()) {
    lines.push_back({"HID", "none with the reader's ids (0483:5750)", ConsoleColor::current});
    return;
  }
  for (const HidSurveyEntry& entry : survey.hid) {
    const std::string path = console_text(field_text(entry.path));
    if (entry.status == HidSurveyStatus::answered) {
      lines.push_back({"HID", path + "  answers \"" + console_text(field_text(entry.name)) + "\"", ConsoleColor::current});
      continue;
    }
    const bool refused = entry.status == HidSurveyStatus::not_opened;
    lines.push_back({"HID", path + (refused ? "  can not be opened: " : "  opened, but ") + console_text(hid_problem(entry)),
                     refused ? ConsoleColor::error : ConsoleColor::current});
    if (entry.access_denied != 0) lines.push_back({"", kUdevHint, ConsoleColor::current});
  }
}

void add_volume_lines(const DiscoverySurvey& survey, std::vector<ReportLine>& lines) {
  if (survey.volumes.empty()) {
    lines.push_back({"Volume", "none: the host lists no volumes", ConsoleColor::current});
    return;
  }
  size_t width = 0;
  for (const VolumeSurveyEntry& entry : survey.volumes) width = std::max(width, console_text(field_text(entry.root)).size());
  for (const VolumeSurveyEntry& entry : survey.volumes) {
    std::string root = console_text(field_text(entry.root));
    root.resize(width, ' ');
    std::string text = root + "  " + (entry.removable ? "removable, " : "fixed, not probed");
    if (entry.removable) {
      text += entry.reader ? "reader \"" + console_text(field_text(entry.name)) + "\"" : "no identity block";
    }
    if (entry.has_label) text += ", label \"" + console_text(field_text(entry.label)) + "\"";
    lines.push_back({"Volume", text, ConsoleColor::current});
  }
}

Json text_or_null(bool present, const std::string& text) { return present ? Json(valid_utf8(text)) : Json(nullptr); }

}  // namespace

std::vector<ReportLine> devices_lines(const DiscoverySurvey& survey) {
  std::vector<ReportLine> lines;
  add_hid_lines(survey, lines);
  add_volume_lines(survey, lines);
  const std::string chosen = console_text(chosen_text(survey));
  if (survey.link_kind == kLinkHid) {
    lines.push_back({"Choice", chosen + ": the reader as a HID device (the HID step comes before the volumes)",
                     ConsoleColor::notice});
  } else if (survey.link_kind == kLinkDrive) {
    lines.push_back({"Choice", chosen + ": the first removable volume with the reader's identity block",
                     ConsoleColor::notice});
  } else {
    lines.push_back({"Choice", "none: no reader found", ConsoleColor::error});
  }
  return lines;
}

std::string devices_json(const DiscoverySurvey& survey) {
  Json json;
  json["hid"] = Json::array();
  for (const HidSurveyEntry& entry : survey.hid) {
    const std::string problem = hid_problem(entry);
    json["hid"].push_back(Json{
        {"path", valid_utf8(field_text(entry.path))},
        {"name", text_or_null(entry.status == HidSurveyStatus::answered, field_text(entry.name))},
        {"error", text_or_null(!problem.empty(), problem)},
    });
  }
  json["volumes"] = Json::array();
  for (const VolumeSurveyEntry& entry : survey.volumes) {
    json["volumes"].push_back(Json{
        {"root", valid_utf8(field_text(entry.root))},
        {"removable", entry.removable != 0},
        {"reader", entry.reader != 0},
        {"name", text_or_null(entry.reader != 0, field_text(entry.name))},
        {"label", text_or_null(entry.has_label != 0, field_text(entry.label))},
    });
  }
  json["chosen"] = text_or_null(survey.link_kind != 0, chosen_text(survey));
  return json.dump(2);
}

int run_devices(bool json) {
  const int found = survey_devices();
  if (json) {
    const std::string text = devices_json(discovery_survey) + "\n";
    console_write_data(text.data(), static_cast<uint32_t>(text.size()));
  } else {
    print_report(devices_lines(discovery_survey));
  }
  return found != 0 ? kExitSuccess : kExitFailure;
}

}  // namespace cartdump

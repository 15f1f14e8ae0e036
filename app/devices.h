// n64dump --devices: what discovery sees (link/discovery_survey.h), step by step, without dumping
// anything: as an aligned block of text, or as one JSON object.
#pragma once

#include <string>
#include <vector>

#include "app/image_report.h"
#include "link/discovery_survey.h"

namespace cartdump {

// The survey for the console: a line per HID interface with the reader's ids (its name, or why
// it could not be opened, with a hint about the udev rule when access was refused), a line per
// volume in the walk's order, and the choice. Text that came from a device or the host (names,
// labels, paths, error texts) is shown as printable ASCII alone, any other byte as '?'.
std::vector<ReportLine> devices_lines(const DiscoverySurvey& survey);

// The survey as one JSON object (pretty-printed, without a final line break):
//   hid      [{path, name, error}]: name null unless it answered, error null unless something failed
//   volumes  [{root, removable, reader, name, label}]: name null unless reader, label null when none
//   chosen   the root a dump would use; on the HID link "HID " and the interface's path; null
// Every string is valid UTF-8: bytes that begin no valid sequence are U+FFFD.
std::string devices_json(const DiscoverySurvey& survey);

// The whole run: surveys, then shows the lines on the console or the JSON object on standard
// output. Returns the exit status: 0 when a dump would find a reader, 1 when not.
int run_devices(bool json);

}  // namespace cartdump

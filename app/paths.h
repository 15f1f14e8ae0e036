// Where the tool looks for things by default. One file per platform.
#pragma once

#include <string>

namespace cartdump {

// The cartridge catalogue used when --catalogue names none: on Linux the one that Debian's
// mupen64plus-data installs, on Windows "mupen64plus.ini" beside the executable. Empty when the
// place cannot be told.
std::string default_catalogue_path();

}  // namespace cartdump

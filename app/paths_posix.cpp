#include "app/paths.h"

namespace cartdump {

std::string default_catalogue_path() { return "/usr/share/games/mupen64plus/mupen64plus.ini"; }

}  // namespace cartdump

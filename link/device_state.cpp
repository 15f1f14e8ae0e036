#include "link/device_state.h"

namespace cartdump {

DeviceState device_state{};

}  // namespace cartdump

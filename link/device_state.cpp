#include "link/device_state.h"

#include <algorithm>

namespace cartdump {

DeviceState device_state{};

int get_device_id(uint8_t* destination, uint32_t capacity) {
  if (destination == nullptr || capacity < kDeviceIdSize) {
    return 0;
  }
  std::copy(device_state.device_id.begin(), device_state.device_id.end(), destination);
  return static_cast<int>(kDeviceIdSize);
}

}  // namespace cartdump

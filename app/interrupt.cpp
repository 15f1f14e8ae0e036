#include "app/interrupt.h"

#include <csignal>

namespace cartdump {
namespace {

volatile std::sig_atomic_t requested = 0;

}  // namespace

bool interrupt_requested() { return requested != 0; }

void interrupt_note() { requested = 1; }

}  // namespace cartdump

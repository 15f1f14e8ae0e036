#include "app/interrupt.h"

#include <csignal>

#include "app/console.h"

namespace cartdump {
namespace {

volatile std::sig_atomic_t requested = 0;

}  // namespace

bool interrupt_requested() { return requested != 0; }

void interrupt_note() { requested = 1; }

int interrupt_finish() {
  print_error("Interrupted.\n");
  interrupt_cleaned_up();
  return interrupt_exit_status();
}

}  // namespace cartdump

// Interruption on POSIX hosts: SIGINT and SIGTERM are recorded by a handler that does nothing
// else. SA_RESTART lets the calls the signal met go on; a call that gives EINTR all the same (a
// read of a FUSE file) is tried again by the bounded retries of link/posix_file.h.
#include <csignal>

#include "app/interrupt.h"

namespace cartdump {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};

void on_signal(int) { interrupt_note(); }

void handle_with(void (*handler)(int)) {
  struct sigaction action{};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

}  // namespace

void interrupt_install() { handle_with(on_signal); }

void interrupt_release() { handle_with(SIG_DFL); }

int interrupt_exit_status() { return 128 + SIGINT; }

void interrupt_cleaned_up() {}

}  // namespace cartdump

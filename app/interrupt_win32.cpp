// Interruption on Windows: a console control handler (Ctrl-C, Ctrl-Break, the console closing,
// logoff, shutdown) records the request. The system runs the handler on a thread of its own; for
// Ctrl-C and Ctrl-Break it returns at once and the run goes on to its cleanup. For the closing
// events the process is ended as soon as the handler returns, so the handler waits for the
// cleanup first (interrupt_cleaned_up), at most kCloseGraceMs.
#include <windows.h>

#include "app/interrupt.h"
#include "app/interrupt_win32.h"

namespace cartdump {
namespace {

// Set once the run has cleaned up after an interruption; manual reset, so it stays set.
HANDLE cleaned_up = nullptr;

}  // namespace

BOOL WINAPI interrupt_console_control(DWORD event) {
  interrupt_note();
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && cleaned_up != nullptr) {
    ::WaitForSingleObject(cleaned_up, kCloseGraceMs);
  }
  return TRUE;
}

void interrupt_install() {
  if (cleaned_up == nullptr) cleaned_up = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(interrupt_console_control, TRUE);
}

void interrupt_release() { ::SetConsoleCtrlHandler(interrupt_console_control, FALSE); }

int interrupt_exit_status() { return 1; }

void interrupt_cleaned_up() {
  if (cleaned_up != nullptr) ::SetEvent(cleaned_up);
}

}  // namespace cartdump

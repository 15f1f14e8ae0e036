// The console control handler that interrupt_install registers on Windows, named so that the tests
// can hand it the events that they cannot make a console send (the console's closing).
#pragma once

#include <windows.h>

namespace cartdump {

// Records the interruption. For Ctrl-C and Ctrl-Break it returns at once; for the console's
// closing, logoff and shutdown it first waits for interrupt_cleaned_up, at most kCloseGraceMs.
// Returns TRUE: the event is handled.
BOOL WINAPI interrupt_console_control(DWORD event);

}  // namespace cartdump

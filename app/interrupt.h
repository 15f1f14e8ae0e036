// Interruption of a run (Ctrl-C, SIGTERM; on Windows Ctrl-C, Ctrl-Break, the console closing). The
// platform's handler only records it; the dump looks between requests, never between a command and
// its reply read, and then cleans up itself: the partial file goes, an earlier image stays as it
// was, and the run ends with "Interrupted." in red and interrupt_exit_status().
//
// On Windows the console's closing gives a handler a few seconds before the process is ended: the
// handler waits for interrupt_finish (at most kCloseGraceMs), so that the cleanup is done first.
// The platform's side is in interrupt_posix.cpp and interrupt_win32.cpp.
#pragma once

namespace cartdump {

// The status of a dump that stopped because it was interrupted.
inline constexpr int kDumpInterrupted = 130;

// How long a Windows handler of the console's closing waits for the cleanup; the system ends the
// process some 5 s after the event.
inline constexpr unsigned kCloseGraceMs = 4000;

// Whether the run has been asked to stop.
bool interrupt_requested();

// Records the request; safe to call from a signal handler.
void interrupt_note();

// Installs the platform's handlers, which call interrupt_note (POSIX: SIGINT and SIGTERM, with
// SA_RESTART; Windows: the console's control events).
void interrupt_install();

// Gives the signals and events their default handling again, where nothing is left to clean up
// (the key prompt): an interruption then ends the process at once.
void interrupt_release();

// The run has cleaned up after an interruption: prints "Interrupted." in red, lets a waiting
// handler go on, and returns the exit status of an interrupted run (interrupt_exit_status).
int interrupt_finish();

// 130 on POSIX hosts (128 + SIGINT, as a shell reports a run ended by Ctrl-C); 1 on Windows.
int interrupt_exit_status();

// The platform's side of interrupt_finish: lets a handler that waits for the cleanup go on.
void interrupt_cleaned_up();

}  // namespace cartdump

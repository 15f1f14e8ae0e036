// Interruption of a run (Ctrl-C, SIGTERM; on Windows Ctrl-C, Ctrl-Break, the console closing). The
// platform's handler only records it; the dump looks between requests, never between a command and
// its reply read, and then cleans up itself.
#pragma once

namespace cartdump {

// The status of a dump that stopped because it was interrupted.
inline constexpr int kDumpInterrupted = 130;

// Whether the run has been asked to stop.
bool interrupt_requested();

// Records the request; safe to call from a signal handler.
void interrupt_note();

}  // namespace cartdump

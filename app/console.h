// Console output of the tool: plain prints through the console's stream, and coloured messages
// (errors in bright red, notices in bright green) written straight to it, the previous colour
// restored after each. Each returns the number of characters formatted; the text of one message
// is cut at 1023 characters. The console's stream is standard output unless a run selects
// standard error, so that standard output carries data alone.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace cartdump {

inline constexpr int kConsoleBufferSize = 1024;

enum class ConsoleColor : uint8_t {
  current,  // whatever colour the console has
  error,    // bright red: attribute word 12 on a Windows console
  notice,   // bright green: attribute word 10
};

enum class ConsoleStream : uint8_t { output, error };

// The console's stream, standard output at start. Set once, before the first print.
extern ConsoleStream console_stream;

// Formats into kConsoleBufferSize characters and writes the text with one write to the console's
// stream, in the given colour where that stream shows colours. One file per platform.
int console_vprint(ConsoleColor color, const char* format, va_list args);

// The standard library's formatted output to the console's stream, flushed before it returns. One
// file per platform: on Windows the stream is switched to binary first, so that a line break is
// the same single byte as in the coloured messages and on Linux.
int console_vprint_plain(const char* format, va_list args);

// Writes length bytes to standard output as they are (in binary on Windows), whatever the
// console's stream: the data of a run, such as its JSON report. One file per platform.
void console_write_data(const char* data, uint32_t length);

// Whether the console's stream is a terminal (a Windows console), where text can be redrawn in
// place. One file per platform.
bool console_is_terminal();

int print_console(const char* format, ...);
int print_error(const char* format, ...);
int print_notice(const char* format, ...);
// The standard library's formatted output, flushed before it returns, so that plain and coloured
// output keep the order of the calls.
int print_plain(const char* format, ...);

// Text that came from the device (its name), made safe for the console: only printable ASCII
// (0x20 to 0x7E) passes; every other byte becomes '?', control characters, C1 controls (0x80 to
// 0x9F) and the bytes of UTF-8 alike, so that a device cannot drive the user's terminal with
// escape sequences. Reads text up to its NUL or capacity - 1 characters, whichever comes first,
// and writes at most capacity - 1 characters and a NUL into out.
void console_safe_text(const char* text, char* out, uint32_t capacity);

// Whether the environment allows colours: NO_COLOR unset or empty, and TERM not "dumb". The
// platform's writer also needs a console (a terminal) on the stream.
bool console_colour_allowed();

// Sets the process up for the console, once at start. On POSIX hosts SIGPIPE is ignored: a
// console whose reader has gone (n64dump | head) gives EPIPE, and the console then stops printing
// while the run goes on, so that the image is still written and the exit status is as usual.
void console_start();

// The exit path after a failure: the key prompt, one character read, exit status 1.
[[noreturn]] void wait_key_and_exit();

}  // namespace cartdump

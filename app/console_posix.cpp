// Console output on POSIX terminals: the two colours as ANSI SGR sequences (bright red 91,
// bright green 92, then back to the default colour 39), only when the console's stream is a
// terminal and the environment allows colours (console_colour_allowed); plain text otherwise.
// SIGPIPE is ignored (console_start); a stream whose reader has gone (EPIPE) is written no more.
#include <csignal>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

#include "app/console.h"
#include "link/posix_file.h"

namespace cartdump {
namespace {

int console_fd() { return console_stream == ConsoleStream::error ? STDERR_FILENO : STDOUT_FILENO; }
std::FILE* console_file() { return console_stream == ConsoleStream::error ? stderr : stdout; }

// Standard output and standard error, once their reader has gone.
bool closed[3] = {false, false, false};

bool shows_colour() { return ::isatty(console_fd()) == 1 && console_colour_allowed(); }

void write_all(int fd, std::string_view text) {
  while (!text.empty() && !closed[fd]) {
    const ssize_t n = posix_retrying([&] { return ::write(fd, text.data(), text.size()); });
    if (n < 0 && errno == EPIPE) {
      closed[fd] = true;
    }
    if (n <= 0) {
      return;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

int console_vprint(ConsoleColor color, const char* format, va_list args) {
  char text[kConsoleBufferSize];
  const int formatted = std::vsnprintf(text, sizeof text, format, args);
  const int n = formatted < 0 ? 0 : formatted < kConsoleBufferSize ? formatted : kConsoleBufferSize - 1;

  // Whatever the stream still holds goes first.
  std::fflush(console_file());
  const char* on = color == ConsoleColor::error ? "\x1b[91m" : color == ConsoleColor::notice ? "\x1b[92m" : "";
  if (*on == '\0' || !shows_colour()) {
    write_all(console_fd(), {text, static_cast<size_t>(n)});
    return n;
  }
  char coloured[kConsoleBufferSize + 16];
  const int length = std::snprintf(coloured, sizeof coloured, "%s%.*s\x1b[39m", on, n, text);
  write_all(console_fd(), {coloured, static_cast<size_t>(length)});
  return n;
}

int console_vprint_plain(const char* format, va_list args) {
  std::FILE* stream = console_file();
  if (closed[console_fd()]) {
    return std::vsnprintf(nullptr, 0, format, args);
  }
  const int n = std::vfprintf(stream, format, args);
  if (std::fflush(stream) != 0 && errno == EPIPE) {
    closed[console_fd()] = true;
  }
  return n;
}

bool console_is_terminal() { return ::isatty(console_fd()) == 1; }

void console_write_data(const char* data, uint32_t length) {
  std::fflush(stdout);
  write_all(STDOUT_FILENO, {data, length});
}

void console_start() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace cartdump

// Console output on POSIX terminals: the two colours as ANSI SGR sequences (bright red 91,
// bright green 92, then back to the default colour 39), only when standard output is a terminal
// and NO_COLOR is not set; plain text otherwise.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/console.h"

namespace cartdump {
namespace {

bool shows_colour() {
  const char* no_color = std::getenv("NO_COLOR");
  return ::isatty(STDOUT_FILENO) == 1 && (no_color == nullptr || no_color[0] == '\0');
}

void write_all(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) {
      continue;
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

  // Whatever the standard output stream still holds goes first.
  std::fflush(stdout);
  const char* on = color == ConsoleColor::error ? "\x1b[91m" : color == ConsoleColor::notice ? "\x1b[92m" : "";
  if (*on == '\0' || !shows_colour()) {
    write_all({text, static_cast<size_t>(n)});
    return n;
  }
  char coloured[kConsoleBufferSize + 16];
  const int length = std::snprintf(coloured, sizeof coloured, "%s%.*s\x1b[39m", on, n, text);
  write_all({coloured, static_cast<size_t>(length)});
  return n;
}

int console_vprint_plain(const char* format, va_list args) {
  const int n = std::vprintf(format, args);
  std::fflush(stdout);
  return n;
}

}  // namespace cartdump

#include "app/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/interrupt.h"

namespace cartdump {

ConsoleStream console_stream = ConsoleStream::output;

int print_console(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = console_vprint(ConsoleColor::current, format, args);
  va_end(args);
  return n;
}

int print_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = console_vprint(ConsoleColor::error, format, args);
  va_end(args);
  return n;
}

int print_notice(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = console_vprint(ConsoleColor::notice, format, args);
  va_end(args);
  return n;
}

int print_plain(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = console_vprint_plain(format, args);
  va_end(args);
  return n;
}

void console_safe_text(const char* text, char* out, uint32_t capacity) {
  if (capacity == 0) {
    return;
  }
  uint32_t i = 0;
  for (; i + 1 < capacity && text[i] != '\0'; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    out[i] = (c >= 0x20 && c <= 0x7E) ? text[i] : '?';
  }
  out[i] = '\0';
}

bool console_colour_allowed() {
  const char* no_color = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return (no_color == nullptr || no_color[0] == '\0') && (term == nullptr || std::strcmp(term, "dumb") != 0);
}

void wait_key_and_exit() {
  // Nothing is left to clean up: an interruption at the prompt ends the process at once.
  interrupt_release();
  print_console("Please press any key to exit...\n");
  std::getchar();
  // A failed run ends with status 1, so that a script never takes it for a dump.
  std::exit(1);
}

}  // namespace cartdump

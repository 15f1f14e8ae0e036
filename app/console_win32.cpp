// Console output on Windows. A message is formatted with wvsprintfA (its own limit: 1024
// characters) and written with one WriteFile to the standard output handle. The two colours are
// console attribute words, 12 (bright red on black) and 10 (bright green on black), set for the
// message alone: the console's attributes before it are read and set back after it. Where
// standard output is not a console (a file, a pipe) the attributes can be neither read nor set,
// and the text is written plain.
//
// wvsprintfA knows c, d, i, s, u, x and X with flags, width and precision, and the l and h size
// prefixes; no floating point, no * width, no 64-bit prefixes. Every message of the tool keeps to
// that, so it reads the same as printf renders it on Linux.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "app/console.h"

namespace cartdump {
namespace {

constexpr WORD kErrorAttributes = FOREGROUND_RED | FOREGROUND_INTENSITY;      // 12
constexpr WORD kNoticeAttributes = FOREGROUND_GREEN | FOREGROUND_INTENSITY;  // 10
static_assert(kErrorAttributes == 12 && kNoticeAttributes == 10);

void write_text(HANDLE output, const char* text, int n) {
  DWORD written = 0;
  ::WriteFile(output, text, static_cast<DWORD>(n), &written, nullptr);
}

// The standard output stream writes its bytes as they are: a text-mode stream would turn every
// line break of a plain print into CR LF, and the coloured messages, written to the handle, keep
// theirs as LF.
void use_binary_stdout() {
  static bool binary = false;
  if (!binary) {
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    binary = true;
  }
}

}  // namespace

int console_vprint(ConsoleColor color, const char* format, va_list args) {
  char text[kConsoleBufferSize];
  const int formatted = ::wvsprintfA(text, format, args);
  // A cut text is reported as the buffer's size by some versions: no more than the buffer holds
  // (1023 characters and the terminator) goes out.
  const int n = formatted < 0 ? 0 : formatted < kConsoleBufferSize ? formatted : kConsoleBufferSize - 1;

  // What the standard output stream still holds goes first, so that plain and coloured output
  // keep the order of the calls.
  std::fflush(stdout);
  HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO before{};
  const bool coloured =
      color != ConsoleColor::current && ::GetConsoleScreenBufferInfo(output, &before) != FALSE;
  if (coloured) {
    ::SetConsoleTextAttribute(output, color == ConsoleColor::error ? kErrorAttributes : kNoticeAttributes);
  }
  write_text(output, text, n);
  if (coloured) {
    ::SetConsoleTextAttribute(output, before.wAttributes);
  }
  return n;
}

int console_vprint_plain(const char* format, va_list args) {
  use_binary_stdout();
  const int n = std::vprintf(format, args);
  std::fflush(stdout);
  return n;
}

}  // namespace cartdump

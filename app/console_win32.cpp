// Console output on Windows. A message is formatted with wvsprintfA (its own limit: 1024
// characters) and written with one WriteFile to the handle of the console's stream (standard output
// or standard error). The two colours are
// console attribute words, 12 (bright red on black) and 10 (bright green on black), set for the
// message alone: the console's attributes before it are read and set back after it. Where
// the stream is not a console (a file, a pipe) the attributes can be neither read nor set, and
// the text is written plain; so it is where the environment forbids colours (NO_COLOR, TERM=dumb).
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

std::FILE* console_file() { return console_stream == ConsoleStream::error ? stderr : stdout; }

// The standard streams write their bytes as they are: a text-mode stream would turn every line
// break of a plain print into CR LF, and the coloured messages, written to the handle, keep theirs
// as LF.
void use_binary(std::FILE* stream) {
  static bool binary[2] = {false, false};
  bool& done = binary[stream == stderr ? 1 : 0];
  if (!done) {
    std::fflush(stream);
    ::_setmode(::_fileno(stream), _O_BINARY);
    done = true;
  }
}

}  // namespace

int console_vprint(ConsoleColor color, const char* format, va_list args) {
  char text[kConsoleBufferSize];
  const int formatted = ::wvsprintfA(text, format, args);
  // A cut text is reported as the buffer's size by some versions: no more than the buffer holds
  // (1023 characters and the terminator) goes out.
  const int n = formatted < 0 ? 0 : formatted < kConsoleBufferSize ? formatted : kConsoleBufferSize - 1;

  // What the stream still holds goes first, so that plain and coloured output keep the order of
  // the calls.
  std::fflush(console_file());
  HANDLE output = ::GetStdHandle(console_stream == ConsoleStream::error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO before{};
  const bool coloured = color != ConsoleColor::current && console_colour_allowed() &&
                        ::GetConsoleScreenBufferInfo(output, &before) != FALSE;
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
  std::FILE* stream = console_file();
  use_binary(stream);
  const int n = std::vfprintf(stream, format, args);
  std::fflush(stream);
  return n;
}

bool console_is_terminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(console_stream == ConsoleStream::error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE),
                          &mode) != FALSE;
}

void console_write_data(const char* data, uint32_t length) {
  use_binary(stdout);
  std::fwrite(data, 1, length, stdout);
  std::fflush(stdout);
}

// Windows has no SIGPIPE: a write to a pipe whose reader has gone fails, and the run goes on.
void console_start() {}

}  // namespace cartdump

// console_probe REPORT: prints through the tool's console functions on a console of its own, then
// writes what that console shows into the file REPORT, for console_win32_test.cpp:
//   line 1: the characters of the first cells of the screen buffer
//   line 2: each of those cells' attribute word, two hexadecimal digits and a space
//   line 3: the console's attribute word after the prints
// Started by the test as a process with a new console and no window (under Wine too, a console
// without a display). Exits 0 when the report is written, 1 when there is no console to probe.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/console.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: console_probe REPORT\n");
    return 2;
  }
  HANDLE console = ::GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(console, &info)) {
    return 1;
  }
  // Yellow on blue: a colour that neither message has, so that what is set back shows.
  constexpr WORD kStartAttributes = 0x1E;
  ::SetConsoleTextAttribute(console, kStartAttributes);

  using namespace cartdump;
  print_console("P1");
  print_error("E%d", 2);
  print_notice("N%s", "3");
  print_plain("p%u", 4u);
  print_error("E5");

  constexpr DWORD kCells = 10;
  char characters[kCells + 1] = {};
  WORD attributes[kCells] = {};
  DWORD n = 0;
  ::ReadConsoleOutputCharacterA(console, characters, kCells, COORD{0, 0}, &n);
  ::ReadConsoleOutputAttribute(console, attributes, kCells, COORD{0, 0}, &n);
  ::GetConsoleScreenBufferInfo(console, &info);

  std::FILE* report = std::fopen(argv[1], "wb");
  if (report == nullptr) {
    return 1;
  }
  std::fprintf(report, "%s\n", characters);
  for (const WORD attribute : attributes) {
    std::fprintf(report, "%02X ", attribute);
  }
  std::fprintf(report, "\n%02X\n", info.wAttributes);
  std::fclose(report);
  return 0;
}

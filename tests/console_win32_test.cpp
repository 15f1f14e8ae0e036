// The console output on Windows: the messages' formats as wvsprintfA renders them, the text
// written where standard output is a file, and the colours on a real console.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/console.h"

namespace cartdump {
namespace {

namespace fs = std::filesystem;

std::string file_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The standard output handle pointed at a file while the object lives: standard output is then
// not a console, as when the tool's output is redirected.
class StdoutToFile {
 public:
  explicit StdoutToFile(fs::path path) : path_(std::move(path)), saved_(::GetStdHandle(STD_OUTPUT_HANDLE)) {
    file_ = ::CreateFileA(path_.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(file_, INVALID_HANDLE_VALUE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, file_);
  }
  StdoutToFile(const StdoutToFile&) = delete;
  StdoutToFile& operator=(const StdoutToFile&) = delete;
  ~StdoutToFile() {
    ::SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  std::string text() const { return file_text(path_); }

 private:
  fs::path path_;
  HANDLE saved_;
  HANDLE file_;
};

fs::path scratch(const char* name) {
  return fs::current_path() / (std::string("console_") + std::to_string(::GetCurrentProcessId()) + "_" + name);
}

// Each of the three message printers renders format and args as printf does, writes exactly
// that text, and returns its length.
template <typename... Args>
void expect_printf_rendering(const char* format, Args... args) {
  SCOPED_TRACE(format);
  char expected[kConsoleBufferSize];
  const int length = std::snprintf(expected, sizeof expected, format, args...);
  ASSERT_GE(length, 0);
  using Printer = int (*)(const char*, ...);
  for (const Printer print : {&print_console, &print_error, &print_notice}) {
    const StdoutToFile out(scratch("format"));
    EXPECT_EQ(print(format, args...), length);
    EXPECT_EQ(out.text(), std::string(expected, static_cast<size_t>(length)));
  }
}

// Every format the tool prints, with the values it prints, plus the extremes of their numbers.
TEST(ConsoleWin32, TheToolsFormatsRenderAsPrintfRendersThem) {
  expect_printf_rendering("Device: %s\n", "CARTSIM N64 READER");
  expect_printf_rendering("Device: %s\n", "");
  expect_printf_rendering("Open device error.\n");
  expect_printf_rendering("%.2X%.2X%.2X%.2X\n", 0x80, 0x37, 0x12, 0x40);
  expect_printf_rendering("%.2X%.2X%.2X%.2X\n", 0x00, 0x0A, 0xFF, 0x05);
  expect_printf_rendering("Can not find n64 data header.\n");
  expect_printf_rendering("Start dump....\n");
  expect_printf_rendering("%d/%d\r", 8192, 16777216);
  expect_printf_rendering("Write rom to file %s(%dbytes).", "Dump16M.n64", 16777216);
  expect_printf_rendering("Write rom to file %s(%dbytes).", "Dump16M.n64", 0);
  expect_printf_rendering("Can not read the cartridge at device address 0x%08X: %s.\n", 0x01FFE000u,
                          "cannot open E:\\T-DRIVER.DMP: The system cannot find the file specified");
  expect_printf_rendering("Can not read the cartridge at device address 0x%08X: %s.\n", 0x0000ABCDu, "x");
  expect_printf_rendering("Can not read the cartridge at device address 0x%08X: the device answered %u of %u bytes.\n",
                          0x01000000u, 512u, 8192u);
  expect_printf_rendering("Can not read the cartridge at device address 0x%08X: the device answered %u of %u bytes.\n",
                          0xFFFFFFFFu, 0u, 4294967295u);
  expect_printf_rendering("Can not write %s: %s.\n", "Dump16M.n64", "cannot create Dump16M.n64.part: Access is denied");
  expect_printf_rendering("Please press any key to exit...\n");
}

TEST(ConsoleWin32, AMessageIsCutAt1023Characters) {
  const std::string long_text(1500, 'x');
  const StdoutToFile out(scratch("long"));
  EXPECT_EQ(print_error("%s", long_text.c_str()), 1023);
  EXPECT_EQ(out.text(), std::string(1023, 'x'));
}

// On a console the error is bright red (12), the notice bright green (10), each message alone;
// plain and uncoloured text keep the console's colour, and the colour before is set back.
TEST(ConsoleWin32, MessagesAreColouredOnAConsoleAndTheColourIsSetBack) {
  char self[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  const std::string probe = (fs::path(self).parent_path() / "console_probe.exe").string();
  const fs::path report = scratch("colours.txt");
  std::string command = "\"" + probe + "\" \"" + report.string() + "\"";

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // A console of its own, without a window: a console that can be read back also where there is
  // no display.
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &process))
      << probe << ": error " << ::GetLastError();
  EXPECT_EQ(::WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
  DWORD status = 99;
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  ASSERT_EQ(status, 0u) << "console_probe found no console";

  EXPECT_EQ(file_text(report),
            "P1E2N3p4E5\n"
            "1E 1E 0C 0C 0A 0A 1E 1E 0C 0C \n"
            "1E\n");
  std::error_code ignored;
  fs::remove(report, ignored);
}

}  // namespace
}  // namespace cartdump

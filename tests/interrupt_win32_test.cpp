// The console control handler of Windows runs, on a thread of the system's, when a control event
// comes. Wine delivers Ctrl-C (n64dump_wine_e2e.sh interrupts a dump so); the console's closing it
// cannot send, so the handler is handed that event here directly.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/interrupt.h"
#include "app/interrupt_win32.h"

namespace cartdump {
namespace {

using Clock = std::chrono::steady_clock;

// Ctrl-C and Ctrl-Break are recorded and handled at once; the run cleans up on its own thread.
// The console's closing ends the process as soon as the handler returns, so the handler returns
// only once the run has cleaned up.
TEST(ConsoleControlHandler, TheClosingWaitsForTheCleanup) {
  interrupt_install();
  const auto start = Clock::now();
  EXPECT_EQ(interrupt_console_control(CTRL_C_EVENT), TRUE);
  EXPECT_EQ(interrupt_console_control(CTRL_BREAK_EVENT), TRUE);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(interrupt_requested());

  std::atomic<bool> returned{false};
  std::thread closing([&] {
    EXPECT_EQ(interrupt_console_control(CTRL_CLOSE_EVENT), TRUE);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(returned) << "the handler let the process end before the cleanup";
  EXPECT_EQ(interrupt_finish(), 1);  // "Interrupted." and the exit status of Windows
  closing.join();
  EXPECT_TRUE(returned);
  interrupt_release();
}

}  // namespace
}  // namespace cartdump

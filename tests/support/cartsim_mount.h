// cartsim for end-to-end tests: the device model mounted as a real directory, reached through the
// system's real file primitives (the e2e binaries link the platform library, not the in-memory
// drive).
//
// CartsimMount runs one cartsim process:
//   start(rom, options)  writes rom as the cartridge into a fresh temporary directory below the
//                        working directory ("cartsim_e2e/<test>-XXXXXX"), starts cartsim on its
//                        "mnt" with --rom, --ready-file and --log added to options, and waits for
//                        the ready file (10 s at most);
//   stop(signal)         signals cartsim (SIGTERM by default), then wait();
//   wait()               waits for cartsim's end (killing it after 10 s), checks that it exited
//                        with status 0 and that the mount is gone, and undoes the mount if not;
//   mount_path(), drive_root() ("<mount>/"), log_path(), log_lines(), stderr_text() (cartsim's
//                        stderr: after stop it ends with the statistics).
// All three return "" on success and otherwise what went wrong, cartsim's stderr included. The
// destructor stops a cartsim still running and removes the temporary directory once the mount is
// gone. Mounts live below the build tree, so scripts/test.sh can undo any that a killed test left.
//
// CartsimTest is the fixture: SetUp skips the test where /dev/fuse is missing and clears the
// DeviceState; mount(options) starts cartsim with the fixture's rom (default: testrom seed 1, 1 MiB)
// and points the DeviceState's drive_root at drive_root(); TearDown stops cartsim and fails the
// test when it did not end with status 0 or left its mount behind.
//
//   TEST_F(CartsimTest, Something) {
//     rom = sim::make_test_rom(7, 16 << 20);
//     ASSERT_NO_FATAL_FAILURE(mount({"--latency-us", "100"}));
//     n64_read(...);                       // the system's own operations reach cartsim
//     EXPECT_EQ(cartsim.log_lines()[0], "group 0x10 command 0x03 ...");
//   }
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace cartdump::test {

// The built programs, as the build placed them.
const char* cartsim_program();
const char* testrom_program();

// Runs a program (args[0] is its path) to its end. Its stdout and stderr together go to output
// when given. Returns its exit status, or -1 when it could not be started or did not exit.
int run_program(const std::vector<std::string>& args, std::string* output = nullptr);

// True where FUSE file systems can be mounted; otherwise why not.
bool fuse_available(std::string& why);

// Whether path is a mount point now (as /proc/self/mountinfo lists them).
bool is_mounted(const std::string& path);

class CartsimMount {
 public:
  CartsimMount() = default;
  CartsimMount(const CartsimMount&) = delete;
  CartsimMount& operator=(const CartsimMount&) = delete;
  ~CartsimMount();

  std::string start(const std::vector<uint8_t>& rom, const std::vector<std::string>& options);
  // Another FUSE program of the tests, started the same way (program MOUNTPOINT --ready-file PATH
  // and options) and stopped by the same calls; it keeps no log.
  std::string start_program(const std::string& program, const std::vector<std::string>& options);
  std::string stop(int signal = SIGTERM);
  std::string wait();

  bool running() const { return pid_ > 0; }
  const std::string& mount_path() const { return mount_path_; }
  std::string drive_root() const { return mount_path_ + "/"; }
  const std::string& log_path() const { return log_path_; }
  std::vector<std::string> log_lines() const;
  std::string stderr_text() const;

 private:
  void remove_directory();
  std::string make_directory();
  std::string launch(const std::string& program, const std::vector<std::string>& options);

  std::string dir_;
  std::string mount_path_;
  std::string log_path_;
  std::string ready_path_;
  std::string stderr_path_;
  pid_t pid_ = -1;
  bool killed_ = false;  // stopped with SIGKILL: no exit status to check
};

class CartsimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts cartsim with rom and options and points drive_root at it; a failure is fatal.
  void mount(const std::vector<std::string>& options = {});
  // Stops cartsim early (TearDown then has nothing to do); returns what stop() returns.
  std::string unmount(int signal = SIGTERM);

  std::vector<uint8_t> rom;
  CartsimMount cartsim;
};

}  // namespace cartdump::test

#include "tests/support/cartsim_mount.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "link/device_state.h"
#include "sim/test_rom.h"

extern char** environ;

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = std::chrono::seconds(10);
constexpr auto kPoll = std::chrono::milliseconds(5);

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<char*> argv_of(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

std::string status_text(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

// A directory name made of the current test's name.
std::string test_label() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string label = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "cartsim";
  for (char& c : label) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
  }
  return label;
}

// Undoes the escapes of /proc/self/mountinfo (\040 for a space, and so on).
std::string unescape_mount_path(const std::string& field) {
  std::string path;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      path += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      path += field[i];
    }
  }
  return path;
}

}  // namespace

const char* cartsim_program() { return CARTDUMP_CARTSIM_PROGRAM; }
const char* testrom_program() { return CARTDUMP_TESTROM_PROGRAM; }

int run_program(const std::vector<std::string>& args, std::string* output) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  std::vector<char*> argv = argv_of(args);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
  }
  ::close(pipe_fds[0]);
  if (output != nullptr) *output = text;
  if (spawned != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool fuse_available(std::string& why) {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) {
    why = std::string("/dev/fuse is not usable here (") + std::strerror(errno) +
          "): the cartsim end-to-end tests need FUSE and are skipped";
    return false;
  }
  return true;
}

bool is_mounted(const std::string& path) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i < 5 && fields >> field; ++i) {
    }
    if (unescape_mount_path(field) == path) return true;
  }
  return false;
}

CartsimMount::~CartsimMount() {
  if (running()) stop();
  remove_directory();
}

void CartsimMount::remove_directory() {
  // Never walk into a live mount: the directory goes only once its mount is gone.
  if (!dir_.empty() && !is_mounted(mount_path_)) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    dir_.clear();
  }
}

std::string CartsimMount::start(const std::vector<uint8_t>& rom, const std::vector<std::string>& options) {
  if (std::string problem = make_directory(); !problem.empty()) return problem;
  const std::string rom_path = dir_ + "/cartridge.n64";
  std::ofstream(rom_path, std::ios::binary).write(reinterpret_cast<const char*>(rom.data()),
                                                  static_cast<std::streamsize>(rom.size()));
  std::vector<std::string> args{"--rom", rom_path, "--log", log_path_};
  args.insert(args.end(), options.begin(), options.end());
  return launch(cartsim_program(), args);
}

std::string CartsimMount::start_program(const std::string& program, const std::vector<std::string>& options) {
  if (std::string problem = make_directory(); !problem.empty()) return problem;
  return launch(program, options);
}

std::string CartsimMount::make_directory() {
  if (running()) return "cartsim is already running";
  remove_directory();
  std::error_code error;
  const fs::path base = fs::current_path() / "cartsim_e2e";
  fs::create_directories(base, error);
  std::string pattern = (fs::canonical(base, error) / (test_label() + "-XXXXXX")).string();
  if (error || ::mkdtemp(pattern.data()) == nullptr) {
    return "cannot make a temporary directory below " + base.string();
  }
  dir_ = pattern;
  mount_path_ = dir_ + "/mnt";
  log_path_ = dir_ + "/cartsim.log";
  ready_path_ = dir_ + "/ready";
  stderr_path_ = dir_ + "/cartsim.stderr";
  fs::create_directory(mount_path_, error);
  return "";
}

std::string CartsimMount::launch(const std::string& program, const std::vector<std::string>& options) {
  std::vector<std::string> args{program, mount_path_, "--ready-file", ready_path_};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv = argv_of(args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stderr_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  killed_ = false;
  if (spawned != 0) {
    pid_ = -1;
    return "cannot start " + program + ": " + std::strerror(spawned);
  }

  const auto deadline = Clock::now() + kPatience;
  while (Clock::now() < deadline) {
    if (fs::exists(ready_path_) && is_mounted(mount_path_)) return "";
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return program + " ended before its mount answered (" + status_text(status) + "):\n" + stderr_text();
    }
    std::this_thread::sleep_for(kPoll);
  }
  const std::string problem = stop(SIGKILL);
  return program + " made no ready file within 10 s\n" + problem;
}

std::string CartsimMount::stop(int signal) {
  if (!running()) return "cartsim is not running";
  ::kill(pid_, signal);
  killed_ = signal == SIGKILL;
  return wait();
}

std::string CartsimMount::wait() {
  if (!running()) return "cartsim is not running";
  std::string problems;
  int status = 0;
  bool ended = false;
  for (const auto deadline = Clock::now() + kPatience; !ended && Clock::now() < deadline;) {
    ended = ::waitpid(pid_, &status, WNOHANG) == pid_;
    if (!ended) std::this_thread::sleep_for(kPoll);
  }
  if (!ended) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    problems += "cartsim did not end within 10 s\n";
  }
  pid_ = -1;
  if (!killed_ && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    problems += "cartsim ended with " + status_text(status) + "\n";
  }
  if (is_mounted(mount_path_)) {
    ::umount2(mount_path_.c_str(), MNT_DETACH);
    problems += "cartsim left its mount behind at " + mount_path_ + " (undone here)\n";
  }
  if (!problems.empty()) problems += "cartsim's stderr:\n" + stderr_text();
  return problems;
}

std::vector<std::string> CartsimMount::log_lines() const {
  std::vector<std::string> lines;
  std::ifstream in(log_path_);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string CartsimMount::stderr_text() const { return read_text(stderr_path_); }

void CartsimTest::SetUp() {
  std::string why;
  if (!fuse_available(why)) {
    GTEST_SKIP() << why;
  }
  device_state = DeviceState{};
  rom = sim::make_test_rom(1, 1 << 20);
}

void CartsimTest::TearDown() {
  if (cartsim.running()) {
    EXPECT_EQ(cartsim.stop(), "");
  }
  device_state = DeviceState{};
}

void CartsimTest::mount(const std::vector<std::string>& options) {
  ASSERT_EQ(cartsim.start(rom, options), "");
  const std::string root = cartsim.drive_root();
  ASSERT_LT(root.size(), device_state.drive_root.size());
  device_state.drive_root.fill(0);
  root.copy(device_state.drive_root.data(), root.size());
}

std::string CartsimTest::unmount(int signal) { return cartsim.stop(signal); }

}  // namespace cartdump::test

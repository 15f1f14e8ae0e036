#include "tests/support/tool_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace cartdump::test {
namespace {

std::string slurp_and_remove(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  return text.str();
}

// The exit status of pid once it has ended, or -1 when it did not end by the deadline (it is
// then killed) or did not exit by itself.
int wait_for(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

const char* n64dump_program() { return CARTDUMP_N64DUMP_PROGRAM; }

ToolProcess start_tool(const std::vector<std::string>& args, const std::string& working_directory,
                       const Environment& env, const std::string& input) {
  ToolProcess process;
  // Output goes to files, so a tool that writes much never blocks on a pipe nobody reads yet.
  char out_path[] = "/tmp/tool_out_XXXXXX";
  char err_path[] = "/tmp/tool_err_XXXXXX";
  char in_path[] = "/tmp/tool_in_XXXXXX";
  const int out_fd = ::mkstemp(out_path);
  const int err_fd = ::mkstemp(err_path);
  const int in_fd = ::mkstemp(in_path);
  if (out_fd < 0 || err_fd < 0 || in_fd < 0) return process;
  process.out_path = out_path;
  process.err_path = err_path;
  if (!input.empty() && ::write(in_fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    return process;
  }
  ::lseek(in_fd, 0, SEEK_SET);

  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in_fd, STDIN_FILENO);
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    if (::chdir(working_directory.c_str()) != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out_fd);
  ::close(err_fd);
  ::close(in_fd);
  ::unlink(in_path);
  process.pid = pid;
  return process;
}

ToolRun finish_tool(ToolProcess& process, int timeout_seconds) {
  ToolRun run;
  if (process.pid > 0) {
    run.status = wait_for(process.pid, std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds));
    process.pid = -1;
  }
  if (!process.out_path.empty()) run.out = slurp_and_remove(process.out_path);
  if (!process.err_path.empty()) run.err = slurp_and_remove(process.err_path);
  return run;
}

ToolRun run_tool(const std::vector<std::string>& args, const std::string& working_directory,
                 const Environment& env, const std::string& input, int timeout_seconds) {
  ToolProcess process = start_tool(args, working_directory, env, input);
  return finish_tool(process, timeout_seconds);
}

ToolRun run_tool_in_terminal(const std::vector<std::string>& args, const std::string& working_directory,
                             const Environment& env, const std::string& input, int timeout_seconds) {
  ToolRun run;
  int master = -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return run;
  if (pid == 0) {
    // A terminal that shows colours, whatever the test's own (TERM=dumb, or none, under CI).
    ::setenv("TERM", "xterm", 1);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    if (::chdir(working_directory.c_str()) != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  // What is typed is not echoed, so the output is the tool's alone.
  termios mode{};
  if (::tcgetattr(master, &mode) == 0) {
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(master, TCSANOW, &mode);
  }
  if (!input.empty() && ::write(master, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    ::kill(pid, SIGKILL);
  }
  // Read until the tool has closed the terminal (EIO on the master once the last holder is gone).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  char buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{master, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0) {
      run.out.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(master);
  run.status = wait_for(pid, deadline);
  return run;
}

}  // namespace cartdump::test

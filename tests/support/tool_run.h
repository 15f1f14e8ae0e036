// Runs one of the built tools as a user would: in a working directory of its own, with standard
// input given (or at its end at once), and standard output and standard error kept apart.
#pragma once

#include <string>
#include <vector>

#include "tests/support/host_volumes.h"

namespace cartdump::test {

struct ToolRun {
  int status = -1;  // the exit status; -1 when the tool did not start or did not exit by itself
  std::string out;
  std::string err;
};

// The built n64dump.
const char* n64dump_program();

// args[0] is the program. env is added to the test's own environment. The tool is stopped after
// timeout_seconds.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& working_directory,
                 const Environment& env = {}, const std::string& input = "", int timeout_seconds = 300);

// The same in two halves, for a test that acts while the tool runs (signals it, say): start_tool
// starts it (pid -1 when it could not be started), finish_tool waits for its end and gives what
// run_tool gives.
struct ToolProcess {
  int pid = -1;
  std::string out_path;
  std::string err_path;
};
ToolProcess start_tool(const std::vector<std::string>& args, const std::string& working_directory,
                       const Environment& env = {}, const std::string& input = "");
ToolRun finish_tool(ToolProcess& process, int timeout_seconds = 300);

// The same with the tool's standard input, output and error on a terminal of its own (a
// pseudo-terminal, TERM=xterm unless env says otherwise): out is all it wrote there (the terminal turns "\n" into "\r\n"), err stays
// empty. input is typed at once and not echoed.
ToolRun run_tool_in_terminal(const std::vector<std::string>& args, const std::string& working_directory,
                             const Environment& env = {}, const std::string& input = "",
                             int timeout_seconds = 300);

}  // namespace cartdump::test

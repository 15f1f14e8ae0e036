// What a POSIX host can plant where the system opens files: FIFOs, device nodes, directories and
// links. The file primitives and the output image take regular files alone and never block on an
// open; the reader's lock holds against another process and dies with it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/output_file.h"
#include "app/reader_lock.h"
#include "link/file_io.h"
#include "tests/support/scratch_test.h"

namespace cartdump {
namespace {

namespace fs = std::filesystem;

class PlantedFiles : public test::ScratchTest {
 protected:
  PlantedFiles() : ScratchTest("file_io_scratch") {}
};

// Each kind of thing at a name the primitives open; a FIFO would block an ordinary open for ever.
// (A test that hangs here is stopped by CTest's time-out.)
void plant(const std::string& kind, const std::string& at) {
  if (kind == "a FIFO") {
    ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0);
  } else if (kind == "a device node") {
    fs::create_symlink("/dev/zero", at);
  } else {
    fs::create_directory(at);
  }
}

TEST_F(PlantedFiles, ThePrimitivesTakeRegularFilesAlone) {
  struct Case {
    std::string kind;
    std::string write_refusal;  // why the command file cannot be created over it
  };
  const Case cases[] = {
      // With a reader on the FIFO, so that the open itself succeeds and the type is what refuses.
      {"a FIFO", "not a regular file"},
      {"a device node", "Too many levels of symbolic links"},  // a link, which is not followed
      {"a directory", "Is a directory"},
  };
  const std::vector<uint8_t> sector(512, 0x5A);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const std::string reply = path("T-DRIVER.DMP");
    const std::string command = path("CMD.CMD");
    ASSERT_NO_FATAL_FAILURE(plant(c.kind, reply));
    ASSERT_NO_FATAL_FAILURE(plant(c.kind, command));
    std::vector<uint8_t> block(1024, 0xCC);
    EXPECT_EQ(read_file_unbuffered(reply.c_str(), block.data(), 1024, 8192), 0);
    EXPECT_EQ(std::string(file_error_text()), "cannot open " + reply + ": not a regular file");
    const int reader = c.kind == "a FIFO" ? ::open(command.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    EXPECT_EQ(write_whole_file(command.c_str(), sector.data(), 512), 0);
    EXPECT_EQ(std::string(file_error_text()), "cannot create " + command + ": " + c.write_refusal);
    if (reader >= 0) ::close(reader);
  }
}

// A link at the command file's name (in the working directory on the HID link) is not written
// through.
TEST_F(PlantedFiles, TheCommandFileIsNotWrittenThroughALink) {
  const std::string target = path("target");
  std::ofstream(target) << "untouched";
  fs::create_symlink(target, path("CMD.CMD"));
  const std::vector<uint8_t> sector(512, 0x5A);
  EXPECT_EQ(write_whole_file(path("CMD.CMD").c_str(), sector.data(), 512), 0);
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "untouched");
}

TEST_F(PlantedFiles, AFifoAtTheOutputsNameIsRefused) {
  const std::string output = path("Dump16M.n64");
  ASSERT_EQ(::mkfifo(output.c_str(), 0644), 0);
  OutputFile file;
  EXPECT_FALSE(output_create(file, output));
  EXPECT_EQ(file.error, "it is a FIFO, not a regular file");
  EXPECT_TRUE(fs::is_fifo(output));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// The new image takes the permission bits of the earlier one; without one, 0644 less the umask.
TEST_F(PlantedFiles, TheNewImageTakesTheEarlierOnesPermissions) {
  const std::string output = path("Dump16M.n64");
  const auto image_mode = [&] {
    OutputFile file;
    const uint8_t byte = 1;
    EXPECT_TRUE(output_create(file, output) && output_write(file, &byte, 1) && output_commit(file)) << file.error;
    return fs::status(output).permissions();
  };
  const mode_t mask = ::umask(022);
  EXPECT_EQ(image_mode(), fs::perms(0644));
  fs::permissions(output, fs::perms(0600));
  EXPECT_EQ(image_mode(), fs::perms(0600));
  fs::permissions(output, fs::perms(0444));
  EXPECT_EQ(image_mode(), fs::perms(0444));
  fs::remove(output);
  ::umask(077);
  EXPECT_EQ(image_mode(), fs::perms(0600));
  ::umask(mask);
}

// A second process finds the reader busy while the first lives, and takes it once the first has
// been killed. The lock files go into XDG_RUNTIME_DIR, here the test's own directory.
TEST_F(PlantedFiles, TheReadersLockHoldsAgainstAnotherProcessAndDiesWithIt) {
  ASSERT_EQ(::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1), 0);
  const std::string reader = "/media/test/READER/";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    std::string error;
    const char taken = reader_lock_take(reader, error) == ReaderLock::taken ? 'y' : 'n';
    if (::write(ready[1], &taken, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  ASSERT_GT(holder, 0);
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  EXPECT_EQ(taken, 'y');
  std::string error;
  EXPECT_EQ(reader_lock_take(reader, error), ReaderLock::busy) << error;
  EXPECT_TRUE(fs::exists(dir_ / (reader_lock_name(reader) + ".lock")));

  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_EQ(reader_lock_take(reader, error), ReaderLock::taken) << error;
  ::close(ready[0]);
  ::close(ready[1]);
  ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace cartdump

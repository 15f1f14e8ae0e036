// The tool's own files on the host's file system: the output image's partial file and the reader's
// lock, on every platform (app_tests runs under Wine too).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/output_file.h"
#include "app/reader_lock.h"
#include "tests/support/scratch_test.h"

namespace cartdump {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public test::ScratchTest {
 protected:
  OutputFileTest() : ScratchTest("app_files_scratch") {}
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(dir_ / "out");
  }
  void TearDown() override {
    output_discard(file_);
    ScratchTest::TearDown();
  }

  std::string text_of(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void write_text(const fs::path& path, const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }
  bool write(const std::string& text) {
    return output_write(file_, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  }
  std::vector<std::string> names_in(const fs::path& dir) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  OutputFile file_;
};

// -o DIR/FILE: the partial file is new, beside FILE, named after it; the commit renames it over FILE.
TEST_F(OutputFileTest, ThePartialFileIsNewAndBesideTheOutput) {
  const fs::path output = dir_ / "out" / "Dump16M.n64";
  write_text(output, "earlier");
  ASSERT_TRUE(output_create(file_, output.string())) << file_.error;
  const fs::path partial = file_.partial;
  EXPECT_EQ(partial.parent_path(), output.parent_path());
  const std::string name = partial.filename().string();
  ASSERT_EQ(name.size(), std::string("Dump16M.n64.XXXXXX.part").size()) << name;
  EXPECT_TRUE(name.starts_with("Dump16M.n64.") && name.ends_with(".part")) << name;
  EXPECT_TRUE(fs::exists(partial));
  EXPECT_EQ(text_of(output), "earlier") << "the output is touched only at the commit";

  ASSERT_TRUE(write("new image"));
  ASSERT_TRUE(output_commit(file_)) << file_.error;
  EXPECT_EQ(text_of(output), "new image");
  EXPECT_EQ(names_in(dir_ / "out"), std::vector<std::string>{"Dump16M.n64"});
}

// Each partial file has a name of its own; a leftover at any name is never opened nor removed.
TEST_F(OutputFileTest, ALeftoverIsLeftAlone) {
  const fs::path output = dir_ / "out" / "Dump16M.n64";
  write_text(dir_ / "out" / "Dump16M.n64.part", "leftover");
  OutputFile other;
  ASSERT_TRUE(output_create(file_, output.string())) << file_.error;
  ASSERT_TRUE(output_create(other, output.string())) << other.error;
  EXPECT_NE(file_.partial, other.partial);
  output_discard(other);
  ASSERT_TRUE(write("image"));
  ASSERT_TRUE(output_commit(file_)) << file_.error;
  EXPECT_EQ(names_in(dir_ / "out"), (std::vector<std::string>{"Dump16M.n64", "Dump16M.n64.part"}));
  EXPECT_EQ(text_of(dir_ / "out" / "Dump16M.n64.part"), "leftover");
}

// The output's name may be decided late, in the same directory: the commit renames to it.
TEST_F(OutputFileTest, TheCommitRenamesToThePathSetLast) {
  ASSERT_TRUE(output_create(file_, (dir_ / "out" / "Dump64M.n64").string())) << file_.error;
  ASSERT_TRUE(write("image"));
  file_.path = (dir_ / "out" / "Dump16M.n64").string();
  ASSERT_TRUE(output_commit(file_)) << file_.error;
  EXPECT_EQ(names_in(dir_ / "out"), std::vector<std::string>{"Dump16M.n64"});
}

TEST_F(OutputFileTest, DiscardRemovesThePartialFileAndKeepsTheEarlierOutput) {
  const fs::path output = dir_ / "out" / "Dump16M.n64";
  write_text(output, "earlier");
  ASSERT_TRUE(output_create(file_, output.string())) << file_.error;
  ASSERT_TRUE(write("half an image"));
  output_discard(file_);
  EXPECT_EQ(file_.partial, "");
  EXPECT_EQ(names_in(dir_ / "out"), std::vector<std::string>{"Dump16M.n64"});
  EXPECT_EQ(text_of(output), "earlier");
}

// An output that is no regular file is refused before anything is created.
TEST_F(OutputFileTest, ADirectoryAtTheOutputsNameIsRefused) {
  fs::create_directory(dir_ / "out" / "Dump16M.n64");
  EXPECT_FALSE(output_create(file_, (dir_ / "out" / "Dump16M.n64").string()));
  EXPECT_EQ(file_.error, "it is a directory, not a regular file");
  EXPECT_EQ(names_in(dir_ / "out"), std::vector<std::string>{"Dump16M.n64"});
}

TEST_F(OutputFileTest, APartialFileThatCannotBeMadeSaysWhy) {
  EXPECT_FALSE(output_create(file_, (dir_ / "missing" / "Dump16M.n64").string()));
  EXPECT_TRUE(file_.error.starts_with("cannot create ")) << file_.error;
  EXPECT_NE(file_.error.find(".part: "), std::string::npos) << file_.error;
}

TEST(ReaderLockName, IsNamedAfterTheReader) {
  const std::string e = reader_lock_name("E:\\");
  EXPECT_EQ(e, reader_lock_name("E:\\"));
  EXPECT_NE(e, reader_lock_name("F:\\"));
  EXPECT_NE(reader_lock_name("/media/a/"), reader_lock_name("/media/b/"));
  ASSERT_EQ(e.size(), std::string("n64dump-reader-").size() + 16);
  EXPECT_TRUE(e.starts_with("n64dump-reader-"));
  EXPECT_EQ(e.find_first_not_of("0123456789abcdef", 15), std::string::npos) << e;
}

// The lock is held for the rest of the process, which has it again when it asks again, from any
// of its threads (a Windows mutex is the owning thread's own, a flock the descriptor's). Another
// reader has a lock of its own. Another process finds the reader busy: PlantedFiles on POSIX hosts,
// the end-to-end tests under Wine.
// Readers of this run's own, so that runs of the test at the same time never meet.
TEST(ReaderLock, BelongsToTheProcess) {
  const std::string reader = "app_tests reader " + std::to_string(std::random_device{}());
  std::string error;
  ASSERT_EQ(reader_lock_take(reader + " A", error), ReaderLock::taken) << error;
  ReaderLock again = ReaderLock::busy;
  std::thread([&] { again = reader_lock_take(reader + " A", error); }).join();
  EXPECT_EQ(again, ReaderLock::taken) << error;
  EXPECT_EQ(reader_lock_take(reader + " A", error), ReaderLock::taken) << error;
  std::thread([&] { again = reader_lock_take(reader + " B", error); }).join();
  EXPECT_EQ(again, ReaderLock::taken) << error;
}

}  // namespace
}  // namespace cartdump

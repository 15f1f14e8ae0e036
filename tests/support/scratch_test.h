// A test's own scratch directory, below the working directory rather than the system's temporary
// directory (which may be a memory filesystem that refuses unbuffered reads): AREA/<test name>,
// made empty before each test and removed after it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace cartdump::test {

class ScratchTest : public ::testing::Test {
 protected:
  explicit ScratchTest(const char* area) : area_(area) {}

  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::current_path() / area_ / info->name();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;

 private:
  const char* area_;
};

}  // namespace cartdump::test

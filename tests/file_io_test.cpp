// The platform's file primitives on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/file_io.h"
#include "tests/support/scratch_test.h"
#include "tests/support/sector_bytes.h"

namespace cartdump {
namespace {

namespace fs = std::filesystem;
using test::byte_pattern;

class FilePrimitives : public test::ScratchTest {
 protected:
  FilePrimitives() : ScratchTest("file_io_scratch") {}

  std::vector<uint8_t> plain_read(const std::string& p) const {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
};

TEST_F(FilePrimitives, WriteCreatesAndTruncates) {
  const std::string p = path("CMD.CMD");
  const std::vector<uint8_t> big = byte_pattern(4096);
  EXPECT_EQ(write_whole_file(p.c_str(), big.data(), 4096), 4096);
  EXPECT_EQ(plain_read(p), big);
  const std::vector<uint8_t> small = byte_pattern(512);
  EXPECT_EQ(write_whole_file(p.c_str(), small.data(), 512), 512);
  EXPECT_EQ(plain_read(p), small);
  EXPECT_EQ(write_whole_file(p.c_str(), nullptr, 0), 0);
  EXPECT_EQ(fs::file_size(p), 0u);
  EXPECT_STREQ(file_error_text(), "");
}

TEST_F(FilePrimitives, WriteThatCannotCreateReturnsZeroAndSaysWhy) {
  const std::string p = path("no such dir/CMD.CMD");
  const std::vector<uint8_t> data = byte_pattern(512);
  EXPECT_EQ(write_whole_file(p.c_str(), data.data(), 512), 0);
  EXPECT_NE(std::string(file_error_text()).find("CMD.CMD"), std::string::npos) << file_error_text();
}

TEST_F(FilePrimitives, UnbufferedReadsGiveThePlainBytesAtAnyOffsetAndLength) {
  const std::vector<uint8_t> file = byte_pattern(40000);
  const std::string p = path("T-DRIVER.DMP");
  ASSERT_EQ(write_whole_file(p.c_str(), file.data(), static_cast<uint32_t>(file.size())), 40000);

  struct Case {
    uint32_t offset;
    uint32_t length;
  };
  const Case cases[] = {
      {0, 1024},       {8192, 1024},   {0, 8192},    {8192, 8192},  // whole blocks
      {1, 1023},       {4095, 2},      {100, 1808},  {0x2345, 1000},  // a dump read at an odd address
      {4096, 4096},    {39990, 100},   {39999, 1},   {20000, 20000},  // up to and past the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
    // Odd destinations too: the caller's memory need not be aligned.
    std::vector<uint8_t> storage(c.length + 1, 0xCC);
    for (uint8_t* destination : {storage.data(), storage.data() + 1}) {
      std::fill(storage.begin(), storage.end(), 0xCC);
      const uint32_t expected = std::min<uint32_t>(c.length, static_cast<uint32_t>(file.size()) - c.offset);
      ASSERT_EQ(read_file_unbuffered(p.c_str(), destination, c.length, c.offset), static_cast<int>(expected));
      EXPECT_TRUE(std::equal(destination, destination + expected, file.begin() + c.offset));
    }
  }
}

TEST_F(FilePrimitives, AlignedReadsLandStraightInTheCallersMemory) {
  const std::vector<uint8_t> file = byte_pattern(3 * 8192);
  const std::string p = path("DUMP.ROM");
  ASSERT_EQ(write_whole_file(p.c_str(), file.data(), static_cast<uint32_t>(file.size())), 3 * 8192);
  alignas(4096) static uint8_t image[2 * 8192];
  EXPECT_EQ(read_file_unbuffered(p.c_str(), image, 2 * 8192, 8192), 2 * 8192);
  EXPECT_TRUE(std::equal(image, image + 2 * 8192, file.begin() + 8192));
}

TEST_F(FilePrimitives, ReadsShareTheFileWithAWriterThatHoldsItOpen) {
  // The device side may hold the reply file open for writing while the host reads it.
  const std::vector<uint8_t> data = byte_pattern(2048);
  const std::string p = path("T-DRIVER.DMP");
  std::ofstream writer(p, std::ios::binary);
  writer.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  writer.flush();
  ASSERT_TRUE(writer.good());
  std::vector<uint8_t> destination(1024, 0xCC);
  EXPECT_EQ(read_file_unbuffered(p.c_str(), destination.data(), 1024, 512), 1024) << file_error_text();
  EXPECT_TRUE(std::equal(destination.begin(), destination.end(), data.begin() + 512));
}

TEST_F(FilePrimitives, ReadsThatFindNothing) {
  const std::string p = path("T-DRIVER.DMP");
  std::vector<uint8_t> destination(1024, 0xCC);
  // A missing file: nothing read, the destination untouched, a reason given.
  EXPECT_EQ(read_file_unbuffered(p.c_str(), destination.data(), 1024, 0), 0);
  EXPECT_EQ(destination, std::vector<uint8_t>(1024, 0xCC));
  EXPECT_NE(std::string(file_error_text()), "");
  // A null destination touches no file at all.
  EXPECT_EQ(read_file_unbuffered(p.c_str(), nullptr, 1024, 0), 0);
  EXPECT_STREQ(file_error_text(), "");
  // An offset past the end.
  const std::vector<uint8_t> data = byte_pattern(100);
  ASSERT_EQ(write_whole_file(p.c_str(), data.data(), 100), 100);
  EXPECT_EQ(read_file_unbuffered(p.c_str(), destination.data(), 1024, 8192), 0);
}

}  // namespace
}  // namespace cartdump

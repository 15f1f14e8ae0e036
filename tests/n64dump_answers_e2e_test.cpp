// n64dump against devices that do not answer the addresses asked, end to end on cartsim: a memory
// stick holding a copy of the reader's files found before the reader, a device that answers zeros
// after the header, one that answers a request late, and a drive whose replies come through the
// host's cache while another program reads the reply file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "sim/test_rom.h"
#include "tests/support/n64dump_fixture.h"

namespace cartdump::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMiB = 1024 * 1024;
constexpr const char* kNotAnswering = "The device does not answer the addresses asked: ";
constexpr const char* kHint =
    "Run n64dump --devices to see which drive was taken for the reader, and remove copies of the reader's files "
    "from other drives.\n";

class Answers : public N64Dump {
 protected:
  void SetUp() override {
    N64Dump::SetUp();
    rom = sim::make_test_rom(51, 4 * kMiB, {"", "", RomChecksumFamily::family_6102});
  }
};

// A stick with the reader's files copied onto it, mounted before the reader: its reply file answers
// every request with the same bytes. The run stops, writes no image, and the reader is never asked.
TEST_F(Answers, AStickWithACopyOfTheReadersFilesBeforeTheReader) {
  const fs::path stick = scratch_ / "stick";
  fs::create_directories(stick);
  std::vector<uint8_t> reply(rom.begin(), rom.begin() + 8192);  // the last reply: the first chunk
  std::vector<uint8_t> identity(1024, 0);
  std::memcpy(identity.data(), "CARTSIM N64 READER", 18);
  reply.insert(reply.end(), identity.begin(), identity.end());
  write_file(stick / "T-DRIVER.DMP", reply);
  write_file(stick / "CMD.CMD", std::vector<uint8_t>(512, 0));
  write_file(stick / "DUMP.ROM", {});
  const std::vector<uint8_t> earlier(1000, 0x5C);
  write_file(work() / "Dump16M.n64", earlier);
  ASSERT_NO_FATAL_FAILURE(plug_in({}, {stick.string()}));

  for (const bool extended : {false, true}) {
    SCOPED_TRACE(extended ? "extended" : "without arguments");
    const ToolRun run = n64dump(extended ? std::vector<std::string>{"--size", "4"} : std::vector<std::string>{});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(std::string(kNotAnswering) +
                           "the 8192 bytes at 0x01002000 are those at 0x01000000 again.\n" + kHint),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(read_file(work() / "Dump16M.n64") == earlier);
    EXPECT_FALSE(fs::exists(work() / "Dump4M.n64"));
  }
  EXPECT_TRUE(cartsim.log_lines().empty()) << "the reader got no command";
}

// A device that answers zeros once the header is read: asked once more, then the run stops.
TEST_F(Answers, ADeviceWithZerosAfterTheHeader) {
  ASSERT_NO_FATAL_FAILURE(plug_in({"--zero-after", "3"}));
  const ToolRun run = n64dump({});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find(std::string(kNotAnswering) +
                         "the 8192 bytes at 0x01000000 came back as zeros, unlike the header read from there just "
                         "before.\n" +
                         kHint),
            std::string::npos)
      << run.out;
  EXPECT_FALSE(fs::exists(work() / "Dump16M.n64"));
  // The identity request, the preparation, the header read, and the first two chunks twice.
  EXPECT_EQ(cartsim.log_lines().size(), 7u);
}

// A device that answers every read one request late passes the answer checks; the extended run's
// checksum catches the shifted image. (The run without arguments cannot catch it: README.)
TEST_F(Answers, ALaggingDeviceFailsTheChecksum) {
  ASSERT_NO_FATAL_FAILURE(plug_in({"--lag"}));
  const ToolRun run = n64dump({"--size", "4", "--json"});
  EXPECT_EQ(run.status, 3) << run.err.substr(0, 300);
  const nlohmann::json json = json_of(run);
  EXPECT_EQ(json["checksum_ok"], false);
  EXPECT_FALSE(read_file(work() / "Dump4M.n64") == rom);
}

// Reads of a file on a drive that cannot bypass the host's cache, while another program reads that
// file over and over, as an indexer would.
class ConcurrentReader {
 public:
  explicit ConcurrentReader(std::string path) : path_(std::move(path)), thread_([this] { run(); }) {}
  ~ConcurrentReader() {
    stop_ = true;
    thread_.join();
  }
  uint64_t reads() const { return reads_; }

 private:
  void run() {
    std::vector<uint8_t> buffer(8192);
    while (!stop_) {
      const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      if (::pread(fd, buffer.data(), buffer.size(), 0) > 0) ++reads_;
      ::close(fd);
    }
  }

  std::string path_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> reads_{0};
  std::thread thread_;
};

// The cached fallback: one notice, and an extended run verifies on its own, so its image is exact.
TEST_F(Answers, TheCachedFallbackUnderAConcurrentReader) {
  ASSERT_NO_FATAL_FAILURE(plug_in({"--refuse-direct-io"}));
  ConcurrentReader reader(cartsim.drive_root() + "T-DRIVER.DMP");
  const ToolRun run = n64dump({"--size", "4", "--json"});
  EXPECT_EQ(run.status, 0) << run.err.substr(0, 600);
  const std::string notice =
      "The drive refuses unbuffered reads: replies may come from the host's cache, so every chunk is read twice "
      "and compared (--verify).\n";
  const size_t at = run.err.find(notice);
  EXPECT_NE(at, std::string::npos) << run.err.substr(0, 600);
  EXPECT_EQ(run.err.find(notice, at + 1), std::string::npos) << "one notice";
  const nlohmann::json json = json_of(run);
  EXPECT_EQ(json["verified"], true);
  EXPECT_TRUE(read_file(work() / "Dump4M.n64") == rom) << "the image is exact";
  EXPECT_GT(reader.reads(), 0u);
  std::cout << "[          ] chunks read again: " << json["reread_chunks"] << ", the other program's reads: "
            << reader.reads() << "\n";
}

}  // namespace
}  // namespace cartdump::test

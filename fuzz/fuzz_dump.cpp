// The dump (app/dump.h) over the in-memory drive and the device model, with whatever the input
// chooses: the cartridge's size and first bytes (the rest is a seed's pseudo-random bytes), what the
// slot answers past it (fill, open bus, mirror), the size asked for or --size auto in a window of
// 8 MiB, --verify, --z64, and the faults of the link and the device (replies cut short, command
// writes refused, bits flipped, zeros after some commands, a device one request late). The dump's
// decisions on the replies (the answer checks, the signs of the cartridge's end, the comparison of
// the reads) meet every reply these give.
//
// Checks, besides the sanitizers:
//   - the dump ends with 0 or 1; after 1 it leaves no file; after 0 the file is as long as the size
//     it reports, a whole number of chunks within the window;
//   - without faults it ends with 0 exactly when the header's first byte marks a byte order, the
//     first chunk begins with the header and the second chunk differs from the first; the image is
//     then the slot's bytes (in big order with --z64), and --size auto never ends before the
//     cartridge does: the cartridge's bytes are pseudo-random, so they never look like its end.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/dump.h"
#include "fuzz/support/fuzz_check.h"
#include "link/device_state.h"
#include "rom/byte_order.h"
#include "sim/device.h"
#include "tests/support/fake_drive_walk.h"
#include "tests/support/fake_hid.h"
#include "tests/support/memory_drive.h"

namespace cartdump::fuzz {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr uint32_t kMiB = 1024 * 1024;
constexpr uint32_t kWindow = 8 * kMiB;
const std::string kRoot = "E:\\";

const fs::path& scratch() {
  static const fs::path dir = [] {
    const fs::path shm = "/dev/shm";
    const fs::path base = fs::is_directory(shm) && ::access(shm.c_str(), W_OK) == 0 ? shm : fs::temp_directory_path();
    fs::path d = base / ("cartdump_fuzz_dump_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

uint32_t consume_rom_size(FuzzedDataProvider& in) {
  constexpr uint32_t kSizes[] = {0,       100,         0x2000,   0x2000 + 100, 0x4000, 1 * kMiB,
                                 2 * kMiB, 3 * kMiB + 0x2000, 4 * kMiB, 5 * kMiB, kWindow};
  if (in.ConsumeBool()) return in.PickValueInArray(kSizes);
  return in.ConsumeIntegralInRange<uint32_t>(0, 6 * kMiB) & ~3u;
}

std::vector<uint8_t> make_rom(FuzzedDataProvider& in, uint32_t size) {
  std::vector<uint8_t> rom(size);
  uint64_t state = in.ConsumeIntegral<uint64_t>() | 1;
  for (uint32_t i = 0; i < size; i += 8) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    for (uint32_t k = 0; k < 8 && i + k < size; ++k) rom[i + k] = static_cast<uint8_t>(state >> (8 * k));
  }
  constexpr uint8_t kMarks[] = {0x80, 0x37, 0x40, 0x12};
  if (size > 0) rom[0] = in.ConsumeBool() ? in.PickValueInArray(kMarks) : in.ConsumeIntegral<uint8_t>();
  return rom;
}

std::vector<uint8_t> read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace
}  // namespace cartdump::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cartdump;
  using namespace cartdump::fuzz;
  using namespace cartdump::test;
  FuzzedDataProvider in(data, size);

  sim::DeviceConfig config;
  config.dump_size = 0x1000;
  config.rom = make_rom(in, consume_rom_size(in));
  constexpr sim::Beyond kBeyond[] = {sim::Beyond::fill, sim::Beyond::openbus, sim::Beyond::mirror};
  config.beyond = in.PickValueInArray(kBeyond);

  DumpRequest request;
  request.auto_size = in.ConsumeBool();
  request.size = request.auto_size ? kWindow : in.ConsumeIntegralInRange<uint32_t>(1, 2) * kMiB;
  request.verify = in.ConsumeBool();
  request.big_order = in.ConsumeBool();
  request.extended = true;
  request.output = (scratch() / "image").string();

  const bool faults = in.ConsumeBool();
  memory_drive_reset();
  fake_drive_walk_reset();
  fake_hid_reset();
  device_state = DeviceState{};
  MemoryDrive& drive = memory_drive();
  if (faults) {
    sim::N64Faults& f = config.n64_faults;
    if (in.ConsumeBool()) f.corrupt_every = in.ConsumeIntegralInRange<uint64_t>(1, 600);
    if (in.ConsumeBool()) f.corrupt_at = sim::kN64RomBase + in.ConsumeIntegralInRange<uint32_t>(0, kWindow);
    f.seed = in.ConsumeIntegral<uint8_t>();
    if (in.ConsumeBool()) f.zero_after = in.ConsumeIntegralInRange<uint64_t>(0, 1200);
    f.lag = in.ConsumeBool();
    const size_t limits = in.ConsumeIntegralInRange<size_t>(0, 6);
    for (size_t i = 0; i < limits; ++i) drive.read_limits.push_back(in.ConsumeIntegralInRange<uint32_t>(0, 9000));
    for (size_t i = 0; i < limits; ++i) drive.write_limits.push_back(in.ConsumeBool() ? 512 : 100);
    drive.short_address = sim::kN64RomBase + in.ConsumeIntegralInRange<uint32_t>(0, 1024) * 0x2000;
    drive.short_replies = in.ConsumeIntegralInRange<uint32_t>(0, 5);
    drive.cached_fallback = in.ConsumeBool();
  }
  sim::Device device(config);
  memory_drive_attach(&device, kRoot);
  set_drive_root(kRoot);
  fake_drive_walk().volumes = {{kRoot, true}};
  const sim::N64Slot slot{.rom = config.rom, .beyond = config.beyond};

  DumpOutcome outcome;
  const int status = dump_cartridge(request, outcome);
  const fs::path image = scratch() / "image";
  FUZZ_CHECK(status == 0 || status == 1, "the dump ended with %d", status);
  if (status == 1) {
    FUZZ_CHECK(fs::is_empty(scratch()), "a failed dump left a file");
  } else {
    FUZZ_CHECK(fs::file_size(image) == outcome.size, "%ju bytes written, %u reported",
               static_cast<uintmax_t>(fs::file_size(image)), outcome.size);
    FUZZ_CHECK(outcome.size >= 2 * kChunkLength && outcome.size <= request.size && outcome.size % kChunkLength == 0,
               "a size of %u", outcome.size);
  }

  if (!faults) {
    std::vector<uint8_t> first(2 * kChunkLength);
    for (uint32_t i = 0; i < first.size(); ++i) first[i] = slot.read(sim::kN64RomBase + i);
    const bool answers = rom_byte_order_of(first.data(), 1) != RomByteOrder::unknown &&
                         !std::equal(first.begin(), first.begin() + kChunkLength, first.begin() + kChunkLength);
    FUZZ_CHECK((status == 0) == answers, "a cartridge whose start %s the checks ended with %d",
               answers ? "passes" : "fails", status);
    if (status == 0) {
      std::vector<uint8_t> expected(outcome.size);
      for (uint32_t i = 0; i < outcome.size; ++i) expected[i] = slot.read(sim::kN64RomBase + i);
      if (request.big_order) rom_convert_order(expected.data(), outcome.size, rom_byte_order_of(first.data(), 1));
      FUZZ_CHECK(read_file(image) == expected, "the image is not the slot's bytes");
      FUZZ_CHECK(outcome.unstable.empty() && outcome.reread_chunks == 0, "a clean device needed re-reads");
      if (request.auto_size && !config.rom.empty() && config.rom.size() <= kWindow) {
        FUZZ_CHECK(outcome.size >= config.rom.size(), "a cartridge of %zu bytes cut at %u (%s)", config.rom.size(),
                   outcome.size, outcome.size_reason.c_str());
      }
    }
  }
  fs::remove(image);
  memory_drive_reset();
  fake_hid_reset();
  return 0;
}

// The device model behind cartsim's drive, over whatever a host could do to the three files: any
// bytes, framed or not, written as the command file in any pieces and at any offsets, opens,
// creates and truncations, reads of any file at any offset and length, and HID reports of any
// size. cartsim serves the model to every program on the host, so nothing of this may crash it.
//
// Checks, besides the sanitizers:
//   - every command sector the model takes is judged by its own bytes: a wrong marker is
//     bad-marker, a marker with a wrong CRC-16 bad-crc, anything else accepted or unknown-command,
//     with group and command as the sector carries them; each sector of a batch is taken once, in
//     file order, and never more sectors than the command file holds;
//   - accepted and rejected count the log;
//   - a read delivers at most what was asked for, and exactly the file's bytes;
//   - once the device is gone every call fails and it takes nothing more.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/support/fuzz_check.h"
#include "link/sector.h"
#include "sim/cartsim_drive.h"
#include "sim/device.h"

namespace cartdump::fuzz {
namespace {

using sim::DriveFile;
using sim::Outcome;

// A small cartridge and a small dump area keep each run cheap; the model's behaviour does not
// depend on their size.
sim::DeviceConfig small_device() {
  sim::DeviceConfig config;
  config.rom.resize(0x4000);
  for (size_t i = 0; i < config.rom.size(); ++i) {
    config.rom[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
  }
  const uint8_t header[] = {0x80, 0x37, 0x12, 0x40};
  std::copy(std::begin(header), std::end(header), config.rom.begin());
  config.dump_size = 0x10000;
  return config;
}

const sim::Device& pristine_device() {
  static const sim::Device device(small_device());
  return device;
}

DriveFile consume_file(FuzzedDataProvider& in) {
  constexpr DriveFile kFiles[] = {DriveFile::command, DriveFile::reply, DriveFile::dump, DriveFile::none};
  return in.PickValueInArray(kFiles);
}

// Offsets: mostly near the batch, sometimes anywhere a 64-bit file offset reaches.
uint64_t consume_offset(FuzzedDataProvider& in, uint64_t near) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return near;
    case 1: return in.ConsumeIntegralInRange<uint64_t>(0, near + 2048);
    case 2: return in.ConsumeIntegralInRange<uint64_t>(0, 1 << 20);
    default: return in.ConsumeIntegralInRange<uint64_t>(0, INT64_MAX);
  }
}

// Sectors from the input, each framed or left as it came, then cut into pieces.
std::vector<uint8_t> consume_batch(FuzzedDataProvider& in) {
  const size_t sectors = in.ConsumeIntegralInRange<size_t>(0, 4);
  std::vector<uint8_t> batch(sectors * kSectorSize + in.ConsumeIntegralInRange<size_t>(0, 3) * 97, 0);
  for (size_t k = 0; k * kSectorSize < batch.size(); ++k) {
    uint8_t* sector = batch.data() + k * kSectorSize;
    const size_t room = std::min<size_t>(kSectorSize, batch.size() - k * kSectorSize);
    const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, room));
    std::copy(bytes.begin(), bytes.end(), sector);
    if (room == kSectorSize && in.ConsumeBool()) {
      frame_sectors(sector, kSectorSize);
    }
  }
  return batch;
}

class Host {
 public:
  Host(FuzzedDataProvider& in, sim::Device& device) : in_(in), device_(device) {
    if (in.ConsumeBool()) {
      options_.fail_after = in.ConsumeIntegralInRange<uint64_t>(0, 12);
    }
    options_.flaky_every = in.ConsumeIntegralInRange<uint64_t>(0, 4);
    drive_ = std::make_unique<sim::SimDrive>(options_, device_, nullptr);
  }

  void run_one() {
    const size_t log_before = device_.log.size();
    const bool gone_before = drive_->gone();
    int result = 0;
    switch (in_.ConsumeIntegralInRange<int>(0, 8)) {
      case 0: result = drive_->create(consume_file(in_)); break;
      case 1: {
        constexpr int kFlags[] = {O_RDONLY, O_WRONLY, O_RDWR, O_WRONLY | O_TRUNC, O_RDWR | O_TRUNC, O_RDONLY | O_TRUNC};
        result = drive_->open(consume_file(in_), in_.PickValueInArray(kFlags));
        break;
      }
      case 2: {
        const DriveFile file = consume_file(in_);
        result = drive_->truncate(file, in_.ConsumeBool() ? 0 : consume_offset(in_, device_.command_file.size()));
        break;
      }
      case 3:
      case 4:
      case 5: result = write(); break;
      case 6: result = read(); break;
      case 7: {
        const DriveFile file = consume_file(in_);
        const int64_t size = drive_->size(file);
        FUZZ_CHECK(size < 0 || file != DriveFile::command || static_cast<uint64_t>(size) == device_.command_file.size(),
                   "the command file's size is not what the model holds");
        break;
      }
      case 8: hid_report(); break;
    }
    if (gone_before) {
      FUZZ_CHECK(device_.log.size() == log_before, "a gone device took a sector");
      FUZZ_CHECK(result <= 0, "a call on a gone device succeeded: %d", result);
    }
    check_new_sectors(log_before);
  }

  // A truncation starts a new batch; the model's log then counts its sectors from here.
  void note_batch_start() { batch_log_start_ = device_.log.size(); }

 private:
  int write() {
    const std::vector<uint8_t> batch = consume_batch(in_);
    uint64_t offset = consume_offset(in_, device_.command_file.size());
    const DriveFile file = in_.ConsumeIntegralInRange<int>(0, 7) == 0 ? consume_file(in_) : DriveFile::command;
    size_t done = 0;
    int last = 0;
    while (done < batch.size()) {
      const size_t piece = in_.ConsumeIntegralInRange<size_t>(1, batch.size() - done);
      // The bytes of one write as the file system hands them over: a buffer of exactly that size.
      const auto bytes = std::make_unique<uint8_t[]>(piece);
      std::memcpy(bytes.get(), batch.data() + done, piece);
      last = drive_->write(file, offset, bytes.get(), piece);
      FUZZ_CHECK(last < 0 || static_cast<size_t>(last) == piece, "a write took %d of %zu bytes", last, piece);
      if (last < 0) {
        break;
      }
      offset += piece;
      done += piece;
    }
    return last;
  }

  int read() {
    const DriveFile file = consume_file(in_);
    const uint64_t offset = consume_offset(in_, 0);
    const size_t size = in_.ConsumeIntegralInRange<size_t>(0, 140000);
    const auto out = std::make_unique<uint8_t[]>(size + 1);
    const std::vector<uint8_t>* source = file == DriveFile::command ? &device_.command_file
                                         : file == DriveFile::reply ? &device_.reply_file
                                         : file == DriveFile::dump  ? &device_.dump_file
                                                                    : nullptr;
    // The command file as it stands before the read; reads change nothing.
    const std::vector<uint8_t> before = source != nullptr ? *source : std::vector<uint8_t>{};
    const int n = drive_->read(file, offset, out.get(), size);
    FUZZ_CHECK(n <= static_cast<int64_t>(size), "a read of %zu bytes delivered %d", size, n);
    if (n > 0) {
      FUZZ_CHECK(offset < before.size() && static_cast<uint64_t>(n) <= before.size() - offset,
                 "a read delivered bytes the file does not have");
      FUZZ_CHECK(std::memcmp(out.get(), before.data() + offset, static_cast<size_t>(n)) == 0,
                 "a read delivered other bytes than the file's");
    }
    return n;
  }

  void hid_report() {
    const size_t size = in_.ConsumeIntegralInRange<size_t>(0, 600);
    const std::vector<uint8_t> bytes = in_.ConsumeBytes<uint8_t>(size);
    const auto report = std::make_unique<uint8_t[]>(bytes.size() + (bytes.empty() ? 1 : 0));
    std::copy(bytes.begin(), bytes.end(), report.get());
    sim::hid_take_report(device_, report.get(), bytes.size());
    sim::HidPayload reply{};
    if (in_.ConsumeBool()) {
      sim::hid_give_report(device_, reply);
    }
  }

  // Sectors taken by the last call: sector i of the batch is judged by its bytes.
  void check_new_sectors(size_t log_before) {
    const auto& log = device_.log;
    FUZZ_CHECK(device_.accepted + device_.rejected == log.size(), "accepted and rejected do not count the log");
    if (device_.command_file.empty() || log.size() < batch_log_start_) {
      note_batch_start();  // a truncation: what follows is a new batch
      if (log.size() == log_before) return;
    }
    const size_t taken = log.size() - batch_log_start_;
    FUZZ_CHECK(taken * kSectorSize <= device_.command_file.size(), "%zu sectors taken from a command file of %zu bytes",
               taken, device_.command_file.size());
    for (size_t i = log_before; i < log.size(); ++i) {
      const uint8_t* sector = device_.command_file.data() + (i - batch_log_start_) * kSectorSize;
      const sim::SectorRecord& r = log[i];
      FUZZ_CHECK(r.group == sector[1] && r.command == sector[2], "sector %zu logged with another group or command", i);
      const uint16_t crc = static_cast<uint16_t>(sector[kSectorCrcOffset] << 8 | sector[kSectorCrcOffset + 1]);
      if (sector[0] != kSectorMarker) {
        FUZZ_CHECK(r.outcome == Outcome::bad_marker, "sector %zu without the marker is %s", i, sim::outcome_name(r.outcome));
      } else if (crc16_xmodem(sector, kSectorSize) != crc) {
        FUZZ_CHECK(r.outcome == Outcome::bad_crc, "sector %zu with a bad CRC is %s", i, sim::outcome_name(r.outcome));
      } else {
        FUZZ_CHECK(r.outcome == Outcome::accepted || r.outcome == Outcome::unknown_command,
                   "a good sector %zu is %s", i, sim::outcome_name(r.outcome));
      }
    }
  }

  FuzzedDataProvider& in_;
  sim::Device& device_;
  sim::CartsimOptions options_;
  std::unique_ptr<sim::SimDrive> drive_;
  size_t batch_log_start_ = 0;
};

}  // namespace
}  // namespace cartdump::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cartdump;
  FuzzedDataProvider in(data, size);
  // Every run starts from the same device. Assigning it over the last run's keeps the big
  // memories' storage, which makes a run cheap.
  static sim::Device device = fuzz::pristine_device();
  device = fuzz::pristine_device();
  fuzz::Host host(in, device);
  for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
    host.run_one();
  }
  return 0;
}

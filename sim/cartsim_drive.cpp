#include "sim/cartsim_drive.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "link/sector.h"

namespace cartdump::sim {
namespace {

constexpr const char* kUsage =
    "usage: cartsim MOUNTPOINT --rom FILE [options]\n"
    "Mounts a simulated cartridge reader at MOUNTPOINT: its drive with CMD.CMD, T-DRIVER.DMP and\n"
    "DUMP.ROM, the cartridge ROM from FILE in its slot. Serves in the foreground until SIGINT or\n"
    "SIGTERM, then unmounts and prints its statistics on stderr.\n"
    "\n"
    "  --rom FILE            the N64 cartridge image in the slot (any byte order, as dumped)\n"
    "  --ready-file PATH     create PATH once the mount answers\n"
    "  --log FILE            one line per command sector taken: group, command, address,\n"
    "                        length, outcome (accepted, bad-marker, bad-crc, unknown-command)\n"
    "identity (the identity block at offset 8192 of T-DRIVER.DMP):\n"
    "  --name TEXT           the device name (default \"CARTSIM N64 READER\")\n"
    "  --id HEX16            the 8-byte device id, 16 hex digits, byte 0 first\n"
    "  --boot                boot mode: the name begins \"BOOT\"\n"
    "  --second-name TEXT    carry the second \"BOOT\" block with TEXT, and the id at 512\n"
    "link model (default: no delay):\n"
    "  --latency-us N        the device works N microseconds on every command sector; the\n"
    "                        next read waits for it\n"
    "  --bytes-per-sec N     move every byte read or written at N bytes per second\n"
    "faults:\n"
    "  --fail-after N        once N command sectors are taken the device is gone: the files\n"
    "                        vanish and reads and writes fail with EIO, as when unplugged\n"
    "  --flaky-every N       every Nth read of T-DRIVER.DMP comes back short (its first 512\n"
    "                        bytes, or half of a smaller read), once\n"
    "  --shrink-reply N:BYTES once N command sectors are taken, T-DRIVER.DMP is only BYTES\n"
    "                        long (0:BYTES from the start); reads stop at its new end\n"
    "page cache:\n"
    "  --direct-io           every read of T-DRIVER.DMP and DUMP.ROM reaches cartsim, also a\n"
    "                        buffered one; by default their pages stay cached across opens\n"
    "                        (keep_cache) and only unbuffered reads see fresh replies\n"
    "  --help                this text\n";

using Setter = std::string (*)(CartsimOptions&, const char*);

struct OptionEntry {
  std::string_view name;
  bool takes_value;
  Setter set;
};

// A decimal count, at least minimum.
std::string parse_count(const char* text, uint64_t minimum, uint64_t& value) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || *text == '-' || *text == '+' || n < minimum) {
    return std::string("not a count") + (minimum > 0 ? " of at least 1: " : ": ") + text;
  }
  value = n;
  return "";
}

// N:BYTES of --shrink-reply.
std::string parse_shrink(CartsimOptions& options, const char* text) {
  const char* colon = std::strchr(text, ':');
  if (colon == nullptr) {
    return std::string("--shrink-reply takes N:BYTES: ") + text;
  }
  uint64_t after = 0;
  std::string complaint = parse_count(std::string(text, colon).c_str(), 0, after);
  if (complaint.empty()) {
    complaint = parse_count(colon + 1, 0, options.shrink_reply_to);
  }
  options.shrink_reply_after = after;
  return complaint;
}

std::string parse_id(const char* text, std::array<uint8_t, 8>& id) {
  const std::string_view hex = text;
  if (hex.size() != 16 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
    return std::string("--id takes 16 hex digits: ") + text;
  }
  for (size_t i = 0; i < id.size(); ++i) {
    id[i] = static_cast<uint8_t>(std::strtoul(std::string(hex.substr(2 * i, 2)).c_str(), nullptr, 16));
  }
  return "";
}

const OptionEntry kOptions[] = {
    {"--rom", true, [](CartsimOptions& o, const char* v) { o.rom_path = v; return std::string(); }},
    {"--ready-file", true, [](CartsimOptions& o, const char* v) { o.ready_file = v; return std::string(); }},
    {"--log", true, [](CartsimOptions& o, const char* v) { o.log_path = v; return std::string(); }},
    {"--name", true, [](CartsimOptions& o, const char* v) { o.device.name = v; return std::string(); }},
    {"--id", true, [](CartsimOptions& o, const char* v) { return parse_id(v, o.device.device_id); }},
    {"--boot", false, [](CartsimOptions& o, const char*) { o.device.boot = true; return std::string(); }},
    {"--second-name", true,
     [](CartsimOptions& o, const char* v) {
       o.device.second_block = true;
       o.device.second_name = v;
       return std::string();
     }},
    {"--latency-us", true, [](CartsimOptions& o, const char* v) { return parse_count(v, 0, o.latency_us); }},
    {"--bytes-per-sec", true, [](CartsimOptions& o, const char* v) { return parse_count(v, 1, o.bytes_per_sec); }},
    {"--fail-after", true,
     [](CartsimOptions& o, const char* v) {
       uint64_t n = 0;
       std::string complaint = parse_count(v, 0, n);
       o.fail_after = n;
       return complaint;
     }},
    {"--flaky-every", true, [](CartsimOptions& o, const char* v) { return parse_count(v, 1, o.flaky_every); }},
    {"--shrink-reply", true, parse_shrink},
    {"--direct-io", false, [](CartsimOptions& o, const char*) { o.direct_io = true; return std::string(); }},
    {"--help", false, [](CartsimOptions& o, const char*) { o.help = true; return std::string(); }},
};

struct FileEntry {
  DriveFile file;
  const char* name;
};

constexpr FileEntry kFileNames[] = {
    {DriveFile::command, "CMD.CMD"},
    {DriveFile::reply, "T-DRIVER.DMP"},
    {DriveFile::dump, "DUMP.ROM"},
};

constexpr uint32_t kShortRead = 512;  // a read cut short delivers at most its first sector

}  // namespace

const char* cartsim_usage() { return kUsage; }

std::string parse_cartsim_options(int argc, const char* const* argv, CartsimOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with("--")) {
      if (!options.mount_point.empty()) {
        return "more than one mount point: " + std::string(arg);
      }
      options.mount_point = arg;
      continue;
    }
    const auto entry = std::find_if(std::begin(kOptions), std::end(kOptions),
                                    [&](const OptionEntry& e) { return e.name == arg; });
    if (entry == std::end(kOptions)) {
      return "unknown option: " + std::string(arg);
    }
    const char* value = nullptr;
    if (entry->takes_value) {
      if (i + 1 >= argc) {
        return std::string(arg) + " needs a value";
      }
      value = argv[++i];
    }
    std::string complaint = entry->set(options, value);
    if (!complaint.empty()) {
      return complaint;
    }
    if (options.help) {
      return "";
    }
  }
  if (options.mount_point.empty()) {
    return "no mount point";
  }
  if (options.rom_path.empty()) {
    return "no cartridge (--rom FILE)";
  }
  return "";
}

const char* drive_file_name(DriveFile file) {
  for (const FileEntry& entry : kFileNames) {
    if (entry.file == file) return entry.name;
  }
  return "";
}

DriveFile drive_file_at(std::string_view path) {
  if (!path.starts_with('/')) {
    return DriveFile::none;
  }
  path.remove_prefix(1);
  for (const FileEntry& entry : kFileNames) {
    if (path == entry.name) return entry.file;
  }
  return DriveFile::none;
}

SimDrive::SimDrive(const CartsimOptions& options, Device& device, std::FILE* log)
    : options_(options), device_(device), log_(log), gone_(options.fail_after == uint64_t{0}) {}

int64_t SimDrive::size(DriveFile file) const {
  if (gone_) {
    return -ENOENT;
  }
  switch (file) {
    case DriveFile::command: return static_cast<int64_t>(device_.command_file.size());
    case DriveFile::reply: return static_cast<int64_t>(reply_size());
    case DriveFile::dump: return static_cast<int64_t>(device_.dump_file.size());
    case DriveFile::none: break;
  }
  return -ENOENT;
}

uint64_t SimDrive::reply_size() const {
  const uint64_t full = device_.reply_file.size();
  if (options_.shrink_reply_after && device_.log.size() >= *options_.shrink_reply_after) {
    return std::min(full, options_.shrink_reply_to);
  }
  return full;
}

int SimDrive::open(DriveFile file, int flags) {
  if (file == DriveFile::none) {
    return -ENOENT;
  }
  if (gone_) {
    return -EIO;
  }
  if (file != DriveFile::command) {
    return (flags & O_ACCMODE) == O_RDONLY ? 0 : -EACCES;
  }
  if (flags & O_TRUNC) {
    device_.truncate_command_file();
  }
  return 0;
}

int SimDrive::create(DriveFile file) {
  if (gone_) {
    return -EIO;
  }
  if (file != DriveFile::command) {
    return -EACCES;  // the drive holds its three files and nothing else
  }
  device_.truncate_command_file();
  return 0;
}

int SimDrive::truncate(DriveFile file, uint64_t length) {
  if (file == DriveFile::none) {
    return -ENOENT;
  }
  if (gone_) {
    return -EIO;
  }
  if (file != DriveFile::command) {
    return -EACCES;
  }
  if (length == 0) {
    device_.truncate_command_file();
    return 0;
  }
  return length == device_.command_file.size() ? 0 : -EINVAL;
}

int SimDrive::read(DriveFile file, uint64_t offset, uint8_t* out, size_t size) {
  if (file == DriveFile::none) {
    return -ENOENT;
  }
  if (gone_) {
    return -EIO;
  }
  size_t n = 0;
  switch (file) {
    case DriveFile::reply: {
      ++reply_reads_;
      if (options_.flaky_every != 0 && reply_reads_ % options_.flaky_every == 0) {
        size = size > kShortRead ? kShortRead : size / 2;
        ++stats_.short_reads;
      }
      const uint64_t end = reply_size();
      n = offset < end ? device_.read_reply_file(offset, out, std::min<uint64_t>(size, end - offset)) : 0;
      break;
    }
    case DriveFile::dump:
      n = device_.read_dump_file(offset, out, size);
      break;
    case DriveFile::command: {
      // A read at or past the end delivers nothing; only an offset inside the file is used.
      const auto& bytes = device_.command_file;
      if (offset < bytes.size()) {
        n = std::min<size_t>(size, bytes.size() - offset);
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(offset), n, out);
      }
      break;
    }
    case DriveFile::none:
      break;
  }
  ++stats_.reads;
  stats_.bytes_served += n;
  transfer(n);
  return static_cast<int>(n);
}

int SimDrive::write(DriveFile file, uint64_t offset, const uint8_t* data, size_t size) {
  if (file == DriveFile::none) {
    return -ENOENT;
  }
  if (gone_) {
    return -EIO;
  }
  if (file != DriveFile::command) {
    return -EACCES;
  }
  if (offset > kCommandFileLimit || size > kCommandFileLimit - offset) {
    return -EFBIG;
  }
  ++stats_.writes;
  transfer(size);
  // The device is fed up to one sector boundary at a time, so that an unplug after a given
  // sector leaves the rest of the write untaken.
  size_t done = 0;
  while (done < size) {
    const uint64_t at = offset + done;
    const size_t piece = std::min<uint64_t>(size - done, kSectorSize - at % kSectorSize);
    const size_t logged = device_.log.size();
    device_.write_command_file(at, data + done, piece);
    done += piece;
    stats_.bytes_taken += piece;
    take_sectors(logged);
    if (options_.fail_after && device_.log.size() >= *options_.fail_after) {
      gone_ = true;
      break;
    }
  }
  return done == size ? static_cast<int>(size) : -EIO;
}

void SimDrive::take_sectors(size_t from) {
  for (size_t i = from; i < device_.log.size(); ++i) {
    if (options_.latency_us != 0) {
      link_free_ = std::max(link_free_, std::chrono::steady_clock::now()) + std::chrono::microseconds(options_.latency_us);
    }
    if (log_ != nullptr) {
      const SectorRecord& r = device_.log[i];
      std::fprintf(log_, "group 0x%02X command 0x%02X address 0x%08X length %u %s\n", r.group, r.command,
                   r.address, r.length, outcome_name(r.outcome));
      std::fflush(log_);
    }
  }
}

void SimDrive::transfer(size_t bytes) {
  if (options_.latency_us == 0 && options_.bytes_per_sec == 0) {
    return;
  }
  const auto start = std::max(link_free_, std::chrono::steady_clock::now());
  const auto moving = options_.bytes_per_sec == 0
                          ? std::chrono::nanoseconds(0)
                          : std::chrono::nanoseconds(bytes * 1000000000ull / options_.bytes_per_sec);
  link_free_ = start + moving;
  // A sleep wakes up late by the scheduler's latency; the last stretch is waited out awake, so
  // that the link's time is its modelled time and not more.
  constexpr auto kAwake = std::chrono::microseconds(200);
  if (link_free_ - std::chrono::steady_clock::now() > kAwake) {
    std::this_thread::sleep_until(link_free_ - kAwake);
  }
  while (std::chrono::steady_clock::now() < link_free_) {
    std::this_thread::yield();
  }
}

std::string SimDrive::statistics() const {
  char text[512];
  std::snprintf(text, sizeof text,
                "cartsim: %llu commands accepted, %llu rejected; %llu bytes served in %llu reads "
                "(%llu cut short); %llu bytes taken in %llu writes%s",
                static_cast<unsigned long long>(device_.accepted), static_cast<unsigned long long>(device_.rejected),
                static_cast<unsigned long long>(stats_.bytes_served), static_cast<unsigned long long>(stats_.reads),
                static_cast<unsigned long long>(stats_.short_reads), static_cast<unsigned long long>(stats_.bytes_taken),
                static_cast<unsigned long long>(stats_.writes), gone_ ? "; the device was gone" : "");
  return text;
}

}  // namespace cartdump::sim

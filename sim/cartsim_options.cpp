#include "sim/cartsim_options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace cartdump::sim {
namespace {

constexpr std::string_view kIntroduction =
    "usage: cartsim MOUNTPOINT --rom FILE [options]\n"
    "Mounts a simulated cartridge reader at MOUNTPOINT: its drive with CMD.CMD, T-DRIVER.DMP and\n"
    "DUMP.ROM, the cartridge ROM from FILE in its slot. Serves in the foreground until SIGINT or\n"
    "SIGTERM, then unmounts and prints its statistics on stderr.\n"
    "\n";

// Sets the option's field from its value (null for an option that takes none); returns "" or what
// is wrong with the value.
using Setter = std::string (*)(CartsimOptions& options, const char* value);

struct OptionEntry {
  std::string_view section;  // the heading it stands under in --help; "" for the first ones
  std::string_view name;
  std::string_view value;    // the value's name in --help; "" for an option that takes none
  std::string_view help;     // its lines in --help, separated by '\n'
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

std::string parse_count(const char* text, uint64_t minimum, std::optional<uint64_t>& value) {
  uint64_t n = 0;
  std::string complaint = parse_count(text, minimum, n);
  if (complaint.empty()) {
    value = n;
  }
  return complaint;
}

// N:BYTES of --shrink-reply.
std::string parse_shrink(CartsimOptions& options, const char* text) {
  const char* colon = std::strchr(text, ':');
  if (colon == nullptr) {
    return std::string("--shrink-reply takes N:BYTES: ") + text;
  }
  std::string complaint = parse_count(std::string(text, colon).c_str(), 0, options.shrink_reply_after);
  if (complaint.empty()) {
    complaint = parse_count(colon + 1, 0, options.shrink_reply_to);
  }
  return complaint;
}

// A device address: decimal, or hexadecimal after 0x.
std::string parse_address(const char* text, std::optional<uint32_t>& address) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || *text == '-' || *text == '+' || n > UINT32_MAX) {
    return std::string("not a 32-bit address: ") + text;
  }
  address = static_cast<uint32_t>(n);
  return "";
}

struct BeyondName {
  std::string_view name;
  Beyond beyond;
};

constexpr BeyondName kBeyondNames[] = {{"fill", Beyond::fill}, {"openbus", Beyond::openbus}, {"mirror", Beyond::mirror}};

std::string parse_beyond(const char* text, Beyond& beyond) {
  for (const BeyondName& entry : kBeyondNames) {
    if (entry.name == text) {
      beyond = entry.beyond;
      return "";
    }
  }
  return std::string("--beyond takes mirror, openbus or fill: ") + text;
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

constexpr std::string_view kIdentity = "identity (the identity block at offset 8192 of T-DRIVER.DMP):";
constexpr std::string_view kLinkModel = "link model (default: no delay):";
constexpr std::string_view kFaults = "faults:";
constexpr std::string_view kPageCache = "page cache:";
constexpr std::string_view kBus = "cartridge bus (group 0x10):";

const OptionEntry kOptions[] = {
    {"", "--rom", "FILE", "the N64 cartridge image in the slot (any byte order, as dumped)",
     [](CartsimOptions& o, const char* v) { o.rom_path = v; return std::string(); }},
    {"", "--ready-file", "PATH", "create PATH once the mount answers",
     [](CartsimOptions& o, const char* v) { o.ready_file = v; return std::string(); }},
    {"", "--log", "FILE",
     "one line per command sector taken: group, command, address,\n"
     "length, outcome (accepted, bad-marker, bad-crc, unknown-command)",
     [](CartsimOptions& o, const char* v) { o.log_path = v; return std::string(); }},
    {kIdentity, "--name", "TEXT", "the device name (default \"CARTSIM N64 READER\")",
     [](CartsimOptions& o, const char* v) { o.device.name = v; return std::string(); }},
    {kIdentity, "--id", "HEX16", "the 8-byte device id, 16 hex digits, byte 0 first",
     [](CartsimOptions& o, const char* v) { return parse_id(v, o.device.device_id); }},
    {kIdentity, "--boot", "", "boot mode: the name begins \"BOOT\"",
     [](CartsimOptions& o, const char*) { o.device.boot = true; return std::string(); }},
    {kIdentity, "--second-name", "TEXT", "carry the second \"BOOT\" block with TEXT, and the id at 512",
     [](CartsimOptions& o, const char* v) {
       o.device.second_block = true;
       o.device.second_name = v;
       return std::string();
     }},
    {kBus, "--beyond", "WHAT",
     "what reads past the image's end give: fill (the default: each\n"
     "16-bit word its own address's low 16 bits, high byte first),\n"
     "openbus (each big-endian halfword at address A reads A & 0xFFFF)\n"
     "or mirror (the image repeats, up to 64 MiB from 0x1000000)",
     [](CartsimOptions& o, const char* v) { return parse_beyond(v, o.device.beyond); }},
    {kLinkModel, "--latency-us", "N",
     "the device works N microseconds on every command sector; the\n"
     "next read waits for it",
     [](CartsimOptions& o, const char* v) { return parse_count(v, 0, o.latency_us); }},
    {kLinkModel, "--bytes-per-sec", "N", "move every byte read or written at N bytes per second",
     [](CartsimOptions& o, const char* v) { return parse_count(v, 1, o.bytes_per_sec); }},
    {kFaults, "--fail-after", "N",
     "once N command sectors are taken the device is gone: the files\n"
     "vanish and reads and writes fail with EIO, as when unplugged",
     [](CartsimOptions& o, const char* v) { return parse_count(v, 0, o.fail_after); }},
    {kFaults, "--flaky-every", "N",
     "every Nth read of T-DRIVER.DMP comes back short (its first 512\n"
     "bytes, or half of a smaller read), once",
     [](CartsimOptions& o, const char* v) { return parse_count(v, 1, o.flaky_every); }},
    {kFaults, "--shrink-reply", "N:BYTES",
     "once N command sectors are taken, T-DRIVER.DMP is only BYTES\n"
     "long (0:BYTES from the start); reads stop at its new end",
     parse_shrink},
    {kFaults, "--refuse-writes-after", "N",
     "once N commands are accepted, creating, truncating or writing\n"
     "CMD.CMD fails with EROFS (a drive remounted read-only); the\n"
     "other files stay readable",
     [](CartsimOptions& o, const char* v) { return parse_count(v, 0, o.refuse_writes_after); }},
    {kFaults, "--corrupt-every", "N",
     "every Nth read of the cartridge (group 0x10) answers with one\n"
     "bit flipped, as through a dirty contact",
     [](CartsimOptions& o, const char* v) { return parse_count(v, 1, o.device.n64_faults.corrupt_every); }},
    {kFaults, "--corrupt-at", "ADDRESS",
     "every read whose reply covers the device address (0x... or\n"
     "decimal) has one bit flipped, another each time: a chunk that\n"
     "never reads the same twice",
     [](CartsimOptions& o, const char* v) { return parse_address(v, o.device.n64_faults.corrupt_at); }},
    {kFaults, "--seed", "S", "which bits the corruptions flip (default 1)",
     [](CartsimOptions& o, const char* v) { return parse_count(v, 0, o.device.n64_faults.seed); }},
    {kFaults, "--zero-after", "N", "once N command sectors are taken, reads of the cartridge answer\nzeros",
     [](CartsimOptions& o, const char* v) { return parse_count(v, 0, o.device.n64_faults.zero_after); }},
    {kFaults, "--lag", "",
     "every read of the cartridge is answered one request late: the\n"
     "reply file shows the reply to the read before (the first is\n"
     "answered in time)",
     [](CartsimOptions& o, const char*) { o.device.n64_faults.lag = true; return std::string(); }},
    {kFaults, "--eintr-after", "N",
     "once N command sectors are taken, every read of T-DRIVER.DMP\n"
     "fails with EINTR, as a read interrupted forever",
     [](CartsimOptions& o, const char* v) { return parse_count(v, 0, o.eintr_after); }},
    {kPageCache, "--direct-io", "",
     "every read of T-DRIVER.DMP and DUMP.ROM reaches cartsim, also a\n"
     "buffered one; by default their pages stay cached across opens\n"
     "(keep_cache) and only unbuffered reads see fresh replies",
     [](CartsimOptions& o, const char*) { o.direct_io = true; return std::string(); }},
    {kPageCache, "--refuse-direct-io", "",
     "unbuffered opens (O_DIRECT) of T-DRIVER.DMP and DUMP.ROM fail\n"
     "with EINVAL, as on a drive that cannot bypass the page cache",
     [](CartsimOptions& o, const char*) { o.refuse_direct_io = true; return std::string(); }},
    {kPageCache, "--help", "", "this text",
     [](CartsimOptions& o, const char*) { o.help = true; return std::string(); }},
};

constexpr size_t kHelpColumn = 24;  // where the help lines start

std::string make_usage() {
  std::string text(kIntroduction);
  std::string_view section;
  for (const OptionEntry& entry : kOptions) {
    if (entry.section != section) {
      section = entry.section;
      text.append(section).append("\n");
    }
    std::string head = "  " + std::string(entry.name);
    if (!entry.value.empty()) {
      head.append(" ").append(entry.value);
    }
    head.resize(std::max(head.size() + 1, kHelpColumn), ' ');
    text.append(head);
    std::string_view help = entry.help;
    for (size_t end = help.find('\n'); end != std::string_view::npos; end = help.find('\n')) {
      text.append(help.substr(0, end + 1)).append(kHelpColumn, ' ');
      help.remove_prefix(end + 1);
    }
    text.append(help).append("\n");
  }
  return text;
}

}  // namespace

const char* cartsim_usage() {
  static const std::string usage = make_usage();
  return usage.c_str();
}

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
    if (!entry->value.empty()) {
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

}  // namespace cartdump::sim

#include "app/dump.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/dump_rules.h"
#include "app/interrupt.h"
#include "app/output_file.h"
#include "app/progress.h"
#include "app/reader_lock.h"
#include "carts/group_10.h"
#include "link/device_state.h"
#include "link/discovery.h"
#include "link/file_io.h"
#include "link/sector.h"
#include "rom/hashes.h"

namespace cartdump {
namespace {

constexpr uint32_t kMiB = 1024 * 1024;
// Chunks past a candidate size that must all show the same end before a second look further on.
constexpr uint32_t kProbeChunks = 2;
// Bytes written between two starts of the write-back, which overlaps the flush with the reading.
constexpr uint64_t kFlushStep = 4 * kMiB;

// One chunk's room, aligned so that a reply is read straight into it.
struct alignas(4096) Chunk {
  uint8_t bytes[kChunkLength];
};

using ChunkDigest = std::array<uint8_t, kMd5Size>;

ChunkDigest digest_of(const Chunk& chunk) {
  ChunkDigest digest{};
  rom_md5(chunk.bytes, kChunkLength, digest.data());
  return digest;
}

// Asks for length bytes from address, again with a fresh command while a reply comes back short or
// its command could not be sent (a flaky cable, a device unplugged, a drive that takes no more
// writes), kReadAttempts times in all. Returns 0; 1 after naming the address and the reason in red;
// kDumpInterrupted when the run was interrupted between two attempts.
int read_all(uint32_t address, uint8_t* destination, uint32_t length) {
  uint32_t delivered = 0;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (attempt > 0 && interrupt_requested()) return kDumpInterrupted;
    delivered = n64_read(address, destination, length);
    if (delivered == length) return 0;
  }
  const char* reason = file_error_text();
  if (reason[0] != '\0') {
    print_error("Can not read the cartridge at device address 0x%08X: %s.\n", address, reason);
  } else {
    print_error("Can not read the cartridge at device address 0x%08X: the device answered %u of %u bytes.\n",
                address, delivered, length);
  }
  return 1;
}

int read_chunk(uint32_t offset, Chunk& chunk) { return read_all(kN64RomBase + offset, chunk.bytes, kChunkLength); }

// The slot's preparation, sent again while its command file cannot be written, kReadAttempts
// times in all: no reply is ever read for a command that did not reach the device.
int prepare_slot() {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (attempt > 0 && interrupt_requested()) return kDumpInterrupted;
    if (n64_init() == static_cast<int>(kSectorSize)) return 0;
  }
  print_error("Can not read the cartridge at device address 0x%08X: the slot's preparation was not sent: %s.\n",
              kN64RomBase, file_error_text());
  return 1;
}

// With verification the header too is read until two reads in a row agree, at most kVerifyReads
// reads in all: the answer checks compare the first chunk with it.
int settle_header(std::array<uint8_t, kHeaderLength>& header) {
  std::array<uint8_t, kHeaderLength> again{};
  for (int reads = 1; reads < kVerifyReads; ++reads) {
    if (interrupt_requested()) return kDumpInterrupted;
    if (const int status = read_all(kN64RomBase, again.data(), kHeaderLength); status != 0) return status;
    if (again == header) return 0;
    header = again;
  }
  print_error("Can not read the cartridge at device address 0x%08X: its header never read the same twice in a row.\n",
              kN64RomBase);
  return 1;
}

// Names the output and the reason in red, and leaves no partial file behind.
void write_failed(OutputFile& file) {
  print_error("Can not write %s: %s.\n", file.path.c_str(), file.error.c_str());
  output_discard(file);
}

// The image of one dump, read chunk by chunk into the output.
class ImageDump {
 public:
  ImageDump(const DumpRequest& request, RomByteOrder delivered, const uint8_t* header, OutputFile& file, bool verify,
            ImageScanner* scanner)
      : request_(request),
        delivered_(delivered),
        header_(header),
        file_(file),
        verify_(verify),
        scanner_(scanner),
        progress_(request.extended && console_is_terminal()),
        size_(request.size),
        rule_(request.auto_size ? SizeRule::limit : SizeRule::asked) {
    digests_.reserve(request.size / kChunkLength);
  }

  uint32_t size() const { return size_; }
  SizeRule rule() const { return rule_; }
  uint32_t reread_chunks() const { return reread_; }
  std::vector<uint32_t>& unstable() { return unstable_; }

  // Reads the image front to back into the output: the first two chunks with the answer checks,
  // then on to the size asked, or with auto_size to where the cartridge's end shows.
  int first_pass();
  // Reads every chunk again and keeps the bytes two reads in a row agree on.
  int verify_pass();
  // Ends the progress line of a dump that stops half-way, so that what follows has a line of its own.
  void end_line();

 private:
  int first_chunks();
  int probe(uint32_t candidate, bool& decided);
  int take(const Chunk& raw);
  int settle(uint32_t index, Chunk& chunk, bool& replaced);
  int store(uint32_t index, const Chunk& raw, bool replaced);
  const uint8_t* in_written_order(const Chunk& raw);

  const DumpRequest& request_;
  RomByteOrder delivered_;
  const uint8_t* header_;
  OutputFile& file_;
  bool verify_;
  ImageScanner* scanner_;
  ProgressLine progress_;
  uint32_t size_;
  SizeRule rule_;
  uint32_t taken_ = 0;               // bytes of the image taken so far
  uint64_t flushed_ = 0;             // bytes whose write-back has been started
  std::vector<ChunkDigest> digests_;  // of each chunk taken, as delivered
  std::array<Chunk, kProbeChunks> start_{};  // the image's first chunks, as delivered
  std::array<Chunk, kProbeChunks> held_{};   // chunks read past a candidate size, not yet taken
  uint32_t held_count_ = 0;
  std::array<Chunk, 2> pair_{};              // the pair of chunks being verified
  Chunk chunk_{};
  Chunk written_{};  // a chunk in the written order
  uint32_t reread_ = 0;
  std::vector<uint32_t> unstable_;
};

const uint8_t* ImageDump::in_written_order(const Chunk& raw) {
  if (!request_.big_order) return raw.bytes;
  written_ = raw;
  rom_convert_order(written_.bytes, kChunkLength, delivered_);
  return written_.bytes;
}

// The next chunk of the image: its digest and, at the start, its bytes are kept; it is written,
// scanned unless the verifying pass will scan the final bytes, and shown as progress.
int ImageDump::take(const Chunk& raw) {
  const uint32_t index = taken_ / kChunkLength;
  digests_.push_back(digest_of(raw));
  if (index < kProbeChunks) start_[index] = raw;
  const uint8_t* bytes = in_written_order(raw);
  if (!output_write(file_, bytes, kChunkLength)) {
    write_failed(file_);
    return 1;
  }
  if (scanner_ != nullptr && !verify_) scanner_->add(bytes, kChunkLength);
  taken_ += kChunkLength;
  if (file_.written - flushed_ >= kFlushStep) {
    output_start_flush(file_, flushed_, file_.written - flushed_);
    flushed_ = file_.written;
  }
  if (request_.extended) {
    progress_.advance(taken_);
  } else {
    print_plain("%d/%d\r", static_cast<int>(taken_), static_cast<int>(request_.size));
  }
  return 0;
}

int ImageDump::first_chunks() {
  std::array<Chunk, 2>& first = pair_;
  std::string seen;
  // A device that fails the checks is asked once more, with fresh commands.
  for (int ask = 0; ask < 2; ++ask) {
    if (interrupt_requested()) return kDumpInterrupted;
    for (uint32_t k = 0; k < 2; ++k) {
      if (const int status = read_chunk(k * kChunkLength, first[k]); status != 0) return status;
    }
    seen = answer_problem(header_, kHeaderLength, first[0].bytes, first[1].bytes, kChunkLength, kN64RomBase);
    if (seen.empty()) {
      const int status = take(first[0]);
      return status != 0 ? status : take(first[1]);
    }
  }
  print_error(
      "The device does not answer the addresses asked: %s.\n"
      "Run n64dump --devices to see which drive was taken for the reader, and remove copies of the reader's "
      "files from other drives.\n",
      seen.c_str());
  return 1;
}

// Reads on past a candidate size into held_: the candidate is the cartridge's end when those
// chunks all repeat the image's start (a mirror) or all are open bus, and one more look further on
// agrees: the image's last chunk before the candidate seen again as far past it as the window
// allows, or open bus at the window's end. Real data never passes both; a decision that is not made
// reads on, so the dump is never cut short.
int ImageDump::probe(uint32_t candidate, bool& decided) {
  decided = false;
  held_count_ = 0;
  bool mirror = true;
  bool open_bus = true;
  for (uint32_t i = 0; i < kProbeChunks && (mirror || open_bus); ++i) {
    if (interrupt_requested()) return kDumpInterrupted;
    const uint32_t offset = candidate + i * kChunkLength;
    if (const int status = read_chunk(offset, held_[i]); status != 0) return status;
    ++held_count_;
    mirror = mirror && std::memcmp(held_[i].bytes, start_[i].bytes, kChunkLength) == 0;
    open_bus = open_bus && is_open_bus(held_[i].bytes, kChunkLength, kN64RomBase + offset);
  }
  if (mirror) {
    const uint32_t seen = std::min(candidate, request_.size - candidate) - kChunkLength;
    if (interrupt_requested()) return kDumpInterrupted;
    if (const int status = read_chunk(candidate + seen, chunk_); status != 0) return status;
    decided = digest_of(chunk_) == digests_[seen / kChunkLength];
    rule_ = SizeRule::mirror;
  }
  if (open_bus && !decided) {
    const uint32_t last = request_.size - kChunkLength;
    if (interrupt_requested()) return kDumpInterrupted;
    if (const int status = read_chunk(last, chunk_); status != 0) return status;
    decided = is_open_bus(chunk_.bytes, kChunkLength, kN64RomBase + last);
    rule_ = SizeRule::open_bus;
  }
  if (!decided) rule_ = SizeRule::limit;
  return 0;
}

int ImageDump::first_pass() {
  if (request_.extended) progress_.begin("", request_.size, request_.auto_size);
  if (const int status = first_chunks(); status != 0) return status;
  const std::span<const uint32_t> candidates = size_candidates();
  auto next = candidates.begin();
  while (taken_ < request_.size) {
    if (interrupt_requested()) return kDumpInterrupted;
    while (next != candidates.end() && *next < taken_) ++next;
    if (request_.auto_size && next != candidates.end() && *next == taken_) {
      ++next;
      bool decided = false;
      if (const int status = probe(taken_, decided); status != 0) return status;
      if (decided) {
        size_ = taken_;
        break;
      }
      for (uint32_t i = 0; i < held_count_; ++i) {
        if (const int status = take(held_[i]); status != 0) return status;
      }
      continue;
    }
    if (const int status = read_chunk(taken_, chunk_); status != 0) return status;
    if (const int status = take(chunk_); status != 0) return status;
  }
  if (request_.extended) {
    progress_.set_total(size_, false);
    progress_.end();
  } else {
    print_plain("\n");
  }
  return 0;
}

// Reads chunk index until two reads in a row agree, the first pass's read counting as the first,
// at most kVerifyReads in all; chunk ends with the agreed bytes, or the last read when none agree.
int ImageDump::settle(uint32_t index, Chunk& chunk, bool& replaced) {
  if (interrupt_requested()) return kDumpInterrupted;
  if (const int status = read_chunk(index * kChunkLength, chunk); status != 0) return status;
  ChunkDigest previous = digest_of(chunk);
  replaced = false;
  if (previous == digests_[index]) return 0;
  ++reread_;
  for (int reads = 2; reads < kVerifyReads; ++reads) {
    if (interrupt_requested()) return kDumpInterrupted;
    if (const int status = read_chunk(index * kChunkLength, chunk); status != 0) return status;
    const ChunkDigest now = digest_of(chunk);
    if (now == previous) {
      replaced = now != digests_[index];
      return 0;
    }
    previous = now;
  }
  unstable_.push_back(kN64RomBase + index * kChunkLength);
  replaced = true;
  return 0;
}

// A verified chunk in its place: written again where its bytes changed, and scanned in order.
int ImageDump::store(uint32_t index, const Chunk& raw, bool replaced) {
  const uint8_t* bytes = in_written_order(raw);
  if (replaced && !output_write_at(file_, uint64_t{index} * kChunkLength, bytes, kChunkLength)) {
    write_failed(file_);
    return 1;
  }
  if (scanner_ != nullptr) scanner_->add(bytes, kChunkLength);
  return 0;
}

void ImageDump::end_line() {
  if (request_.extended) {
    progress_.end();
  } else if (taken_ > 0) {
    print_plain("\n");  // the progress text stays as it was
  }
}

int ImageDump::verify_pass() {
  const uint32_t chunks = size_ / kChunkLength;
  progress_.begin("verifying", size_, false);
  // Pair by pair, the second chunk first: then no chunk follows the request it followed in the first
  // pass, and a reply that a stale cache kept from the request before cannot repeat that pass's.
  for (uint32_t first = 0; first < chunks; first += 2) {
    const uint32_t count = std::min<uint32_t>(2, chunks - first);
    std::array<bool, 2> replaced{};
    for (uint32_t k = count; k-- > 0;) {
      if (const int status = settle(first + k, pair_[k], replaced[k]); status != 0) return status;
    }
    for (uint32_t k = 0; k < count; ++k) {
      if (const int status = store(first + k, pair_[k], replaced[k]); status != 0) return status;
    }
    progress_.advance(uint64_t{first + count} * kChunkLength);
  }
  progress_.end();
  return 0;
}

// Text of the host's (a mount point, a device path) made safe for the console, whatever its length.
std::string safe_text(const char* text) {
  std::string out(std::strlen(text) + 1, '\0');
  console_safe_text(text, out.data(), static_cast<uint32_t>(out.size()));
  out.pop_back();
  return out;
}

// Finds the reader, takes its lock before anything is sent to it, then asks it who it is. Returns
// 0, or 1 after a failure it has named.
int open_reader() {
  if (!locate_device()) {
    print_error("Open device error.\n");
    return 1;
  }
  const std::string reader = located_device_path();
  std::string error;
  switch (reader_lock_take(reader, error)) {
    case ReaderLock::taken:
      break;
    case ReaderLock::busy:
      print_error("The reader at %s is in use by another n64dump run.\n", safe_text(reader.c_str()).c_str());
      return 1;
    case ReaderLock::failed:
      print_error("Can not lock the reader at %s: %s.\n", safe_text(reader.c_str()).c_str(), error.c_str());
      return 1;
  }
  identify_device();
  return 0;
}

}  // namespace

bool is_n64_header(const uint8_t* image) { return rom_byte_order_of(image, 1) != RomByteOrder::unknown; }

std::string default_dump_name(uint32_t size, bool big_order) {
  return "Dump" + std::to_string(size / kMiB) + (big_order ? "M.z64" : "M.n64");
}

int dump_cartridge(const DumpRequest& request, DumpOutcome& outcome) {
  // From here an interruption is recorded, and the dump stops at the next look. Until the partial
  // file exists there is nothing to clean up: a look before each step.
  interrupt_install();
  if (const int status = open_reader(); status != 0) return status;
  if (interrupt_requested()) return kDumpInterrupted;
  std::array<char, kNameCapacity> name{};
  console_safe_text(device_state.device_name.data(), name.data(), static_cast<uint32_t>(name.size()));
  print_notice("Device: %s\n", name.data());

  // A drive that refuses unbuffered reads (discovery has read from it) may let the host's cache
  // answer for the device.
  const bool cached = file_cached_fallback() != 0;
  const bool verify = request.verify || (cached && request.extended);
  if (const int status = prepare_slot(); status != 0) return status;
  std::array<uint8_t, kHeaderLength> header{};
  if (const int status = read_all(kN64RomBase, header.data(), kHeaderLength); status != 0) return status;
  if (verify) {
    if (const int status = settle_header(header); status != 0) return status;
  }
  print_plain("%.2X%.2X%.2X%.2X\n", header[0], header[1], header[2], header[3]);
  if (!is_n64_header(header.data())) {
    print_error("Can not find n64 data header.\n");
    return 1;
  }
  const RomByteOrder delivered = rom_byte_order_of(header.data(), kHeaderLength);
  const RomByteOrder written = request.big_order ? RomByteOrder::big : delivered;
  if (cached) {
    print_notice(request.extended ? "The drive refuses unbuffered reads: replies may come from the host's cache, "
                                    "so every chunk is read twice and compared (--verify).\n"
                                  : "The drive refuses unbuffered reads: replies may come from the host's cache. "
                                    "n64dump --verify reads every chunk twice and compares them.\n");
  }
  if (interrupt_requested()) return kDumpInterrupted;

  print_notice("Start dump....\n");
  OutputFile file;
  // With auto_size the name that tells the size is known only at the end.
  if (!output_create(file, request.output.empty() ? default_dump_name(request.size, request.big_order)
                                                  : request.output)) {
    write_failed(file);
    return 1;
  }
  std::unique_ptr<ImageScanner> scanner = request.scan ? std::make_unique<ImageScanner>(written) : nullptr;
  ImageDump dump(request, delivered, header.data(), file, verify, scanner.get());
  int status = dump.first_pass();
  if (status == 0 && verify) status = dump.verify_pass();
  if (status != 0) {
    if (status == kDumpInterrupted) dump.end_line();
    output_discard(file);
    return status;
  }
  file.path = request.output.empty() ? default_dump_name(dump.size(), request.big_order) : request.output;
  if (!output_commit(file)) {
    write_failed(file);
    return 1;
  }
  print_notice("Write rom to file %s(%dbytes).", file.path.c_str(), static_cast<int>(dump.size()));

  outcome.output = file.path;
  outcome.size = dump.size();
  outcome.written_order = written;
  outcome.scanner = std::move(scanner);
  outcome.size_reason = size_reason(dump.rule(), dump.size());
  outcome.verified = verify;
  outcome.reread_chunks = dump.reread_chunks();
  outcome.unstable = std::move(dump.unstable());
  return 0;
}

void dump_n64_rom() {
  DumpOutcome outcome;
  const int status = dump_cartridge(DumpRequest{.output = kOutputFile}, outcome);
  if (status == kDumpInterrupted) {
    std::exit(interrupt_finish());
  }
  if (status != 0) {
    wait_key_and_exit();
  }
  std::exit(0);
}

}  // namespace cartdump

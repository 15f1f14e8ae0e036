// The floor of a 16 MiB N64 dump over the drive files: only the protocol's file operations for the
// dump's commands, with nothing else around them. The slot's preparation (a command without a
// reply), the 1024-byte header read, then 2048 reads of 8192 bytes; each command is created,
// written, flushed and closed as "CMD.CMD", each reply opened unbuffered, read and closed from
// "T-DRIVER.DMP". The sectors are framed before the clock starts.
//
//   protocol_floor DRIVE_DIRECTORY
// prints the seconds the operations took.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/sector.h"

namespace {

constexpr uint32_t kRomBase = 0x1000000;
constexpr uint32_t kImageSize = 0x1000000;
constexpr uint32_t kChunk = 8192;

std::vector<uint8_t> read_sector(uint32_t address, uint16_t length) {
  std::vector<uint8_t> sector(cartdump::kSectorSize, 0);
  sector[1] = 0x10;
  sector[2] = 0x03;
  for (int i = 0; i < 4; ++i) sector[3 + i] = static_cast<uint8_t>(address >> (8 * i));
  sector[7] = static_cast<uint8_t>(length);
  sector[8] = static_cast<uint8_t>(length >> 8);
  cartdump::frame_sectors(sector.data(), cartdump::kSectorSize);
  return sector;
}

bool send(const std::string& path, const std::vector<uint8_t>& sector) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = ::write(fd, sector.data(), sector.size()) == static_cast<ssize_t>(sector.size()) && ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool receive(const std::string& path, uint8_t* buffer, uint32_t length) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::pread(fd, buffer, length, 0) == static_cast<ssize_t>(length);
  ::close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: protocol_floor DRIVE_DIRECTORY\n");
    return 2;
  }
  const std::string command = std::string(argv[1]) + "/CMD.CMD";
  const std::string reply = std::string(argv[1]) + "/T-DRIVER.DMP";

  std::vector<uint8_t> init(cartdump::kSectorSize, 0);
  init[1] = 0x10;
  init[2] = 0x01;
  cartdump::frame_sectors(init.data(), cartdump::kSectorSize);
  const std::vector<uint8_t> header = read_sector(kRomBase, 1024);
  std::vector<std::vector<uint8_t>> chunks;
  for (uint32_t offset = 0; offset < kImageSize; offset += kChunk) chunks.push_back(read_sector(kRomBase + offset, kChunk));
  auto* image = static_cast<uint8_t*>(std::aligned_alloc(4096, kImageSize));
  if (image == nullptr) return 1;

  const auto start = std::chrono::steady_clock::now();
  bool ok = send(command, init) && send(command, header) && receive(reply, image, 4096);
  for (uint32_t k = 0; ok && k < chunks.size(); ++k) {
    ok = send(command, chunks[k]) && receive(reply, image + k * kChunk, kChunk);
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::free(image);
  if (!ok) {
    std::fprintf(stderr, "protocol_floor: a file operation failed\n");
    return 1;
  }
  std::printf("%.3f\n", took.count());
  return 0;
}

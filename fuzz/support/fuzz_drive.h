// The host's drives as the fuzz targets make them up: the volume list of the drive walk, and the
// device's files behind the two file primitives, with contents and short reads chosen by the input.
// It replaces the platform's file_io and drive_walk in the fuzz targets.
//
// Every volume whose root is listed in file_roots carries the same device files; any other path
// is a missing file. The primitives check their callers' claims: a read's destination and a
// write's source must be addressable for the whole length given, or the target aborts.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace cartdump::fuzz {

struct FuzzVolume {
  std::string root;
  bool removable = false;
  std::string label;  // may hold any bytes; "" : the host has none
};

struct FuzzWrite {
  std::string path;
  std::vector<uint8_t> bytes;
};

struct FuzzDrive {
  std::vector<FuzzVolume> volumes;
  std::set<std::string> file_roots;   // roots under which the device's files are present
  std::vector<uint8_t> reply_file;    // T-DRIVER.DMP
  std::vector<uint8_t> dump_file;     // DUMP.ROM
  bool writes_fail = false;           // the command file cannot be created
  // Each read of a present file delivers at most the next of these bytes (a flaky cable); once
  // they are used up reads deliver what the file holds.
  std::deque<uint32_t> read_limits;

  std::vector<FuzzWrite> writes;           // every write_whole_file, in order
  std::vector<uint32_t> delivered;         // the count of every read of a present file, in order
  std::vector<std::string> label_requests;  // roots whose label was asked for
};

FuzzDrive& fuzz_drive();
void fuzz_drive_reset();

// The file at a path, as the fake serves it: null when missing.
const std::vector<uint8_t>* fuzz_drive_file(const std::string& path);

// What a read of length bytes at offset of a file of file_size bytes delivers, before any limit.
uint32_t fuzz_drive_available(uint64_t file_size, uint32_t offset, uint32_t length);

// Aborts unless [data, data + length) is addressable memory.
void fuzz_check_addressable(const void* data, uint64_t length, const char* what);

}  // namespace cartdump::fuzz

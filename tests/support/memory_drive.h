// The in-memory drive: memory_drive.cpp provides the system's two file primitives in place of the
// platform's file. Under each of the device's roots are the device's three files ("CMD.CMD",
// "T-DRIVER.DMP", "DUMP.ROM"); every other path is an in-memory directory. Each primitive call is
// recorded, and a buffer shorter than the length handed down is a breach (fake_breach.h).
//
// The device's files get their contents from one of two places:
//   - a model device (memory_drive_attach; the unit tests): a command file write is carried out by
//     the model, and the reply and dump files are what it answers;
//   - scripted bytes, when no model is attached (the fuzz targets): the reply and dump files are
//     the bytes in the record, whatever they are, and the command file holds the last write.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/device.h"

namespace cartdump::test {

struct FileCall {
  bool write = false;
  std::string path;
  uint32_t offset = 0;
  uint32_t length = 0;
  int result = 0;
  std::vector<uint8_t> bytes;  // what a write carried
};

struct MemoryDrive {
  std::set<std::string> device_roots;  // the roots under which the device's files are present
  sim::Device* device = nullptr;       // the model device behind them; null: the scripted bytes
  std::vector<uint8_t> command_file;   // scripted: the last write
  std::vector<uint8_t> reply_file;     // scripted
  std::vector<uint8_t> dump_file;      // scripted
  bool unplugged = false;              // nothing under the device's roots can be created or opened
  bool writes_fail = false;            // no file can be written
  bool cached_fallback = false;        // what file_cached_fallback reports
  // Each read of a device file delivers at most the next of these bytes (a flaky cable); once they
  // are used up reads deliver what the file holds.
  std::deque<uint32_t> read_limits;
  // With a model device: the next short_replies reads of the reply file after a command that read
  // from short_address deliver half of what they ask for (a flaky cable at one chunk).
  uint32_t short_address = 0;
  uint32_t short_replies = 0;
  // Each write of the command file takes at most the next of these bytes (a full or write-protected
  // medium): the device gets only those, and the write fails with its reason; once they are used up
  // writes take everything.
  std::deque<uint32_t> write_limits;
  std::map<std::string, std::vector<uint8_t>> files;  // files outside the device, by full path

  std::vector<FileCall> calls;
  std::string error;  // what file_error_text gives
};

MemoryDrive& memory_drive();
// The model device's files appear under root alone; nullptr detaches the device, so that those
// names become missing files.
void memory_drive_attach(sim::Device* device, const std::string& root);
// The drive is gone (or back): every path under the device's roots can be neither created nor opened.
void memory_drive_unplug(bool unplugged);
// Detaches the device and forgets the files, the scripted bytes and the call record.
void memory_drive_reset();
// Files outside the device, by full path.
std::map<std::string, std::vector<uint8_t>>& memory_files();
std::vector<FileCall>& memory_drive_calls();
// The writes among the calls, in order.
std::vector<const FileCall*> memory_drive_writes();

// What a read of length bytes at offset of a file of file_size bytes delivers, before any limit.
uint32_t memory_drive_available(uint64_t file_size, uint32_t offset, uint32_t length);

// Sets the DeviceState's drive root.
void set_drive_root(const std::string& root);

}  // namespace cartdump::test

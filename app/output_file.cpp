#include "app/output_file.h"

namespace cartdump {
namespace {

bool failed(OutputFile& file, int error, const char* what, const std::string& path) {
  file.error = std::string(what) + " " + path + ": " + output_os::error_text(error);
  return false;
}

}  // namespace

bool output_create(OutputFile& file, const std::string& path) {
  output_discard(file);
  file.path = path;
  file.written = 0;
  file.error.clear();
  const std::string partial = path + ".part";
  const char* what = "";
  if (const int error = output_os::create(partial, file.handle, what); error != 0) {
    return failed(file, error, what, partial);
  }
  file.partial = partial;
  return true;
}

bool output_write(OutputFile& file, const uint8_t* data, uint32_t length) {
  const char* what = "";
  if (const int error = output_os::write(file.handle, data, length, what); error != 0) {
    return failed(file, error, what, file.partial);
  }
  file.written += length;
  return true;
}

bool output_write_at(OutputFile& file, uint64_t offset, const uint8_t* data, uint32_t length) {
  const char* what = "";
  if (const int error = output_os::write_at(file.handle, offset, data, length, what); error != 0) {
    return failed(file, error, what, file.partial);
  }
  return true;
}

void output_start_flush(OutputFile& file, uint64_t offset, uint64_t length) {
  output_os::start_flush(file.handle, offset, length);
}

bool output_commit(OutputFile& file) {
  const char* what = "";
  if (const int error = output_os::flush_and_close(file.handle, what); error != 0) {
    failed(file, error, what, file.partial);
    output_discard(file);
    return false;
  }
  if (const int error = output_os::replace(file.partial, file.path, what); error != 0) {
    failed(file, error, what, file.path);
    output_discard(file);
    return false;
  }
  file.partial.clear();
  return true;
}

void output_discard(OutputFile& file) {
  output_os::close_quietly(file.handle);
  if (!file.partial.empty()) {
    output_os::remove(file.partial);
    file.partial.clear();
  }
}

}  // namespace cartdump

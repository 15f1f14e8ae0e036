#include "app/output_file.h"

#include <random>
#include <string_view>

namespace cartdump {
namespace {

// Names tried for the partial file before giving up: each is new unless someone else made it.
constexpr int kNameAttempts = 100;
constexpr std::string_view kNameCharacters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kNameLength = 6;

bool failed(OutputFile& file, int error, const char* what, const std::string& path) {
  file.error = std::string(what) + " " + path + ": " + output_os::error_text(error);
  return false;
}

// "<path>.XXXXXX.part", the six characters drawn at random.
std::string partial_name(const std::string& path, std::random_device& random) {
  std::string name = path + ".";
  std::uniform_int_distribution<size_t> pick(0, kNameCharacters.size() - 1);
  for (int i = 0; i < kNameLength; ++i) name += kNameCharacters[pick(random)];
  return name + ".part";
}

}  // namespace

bool output_create(OutputFile& file, const std::string& path) {
  output_discard(file);
  file.path = path;
  file.written = 0;
  file.error.clear();
  if (const char* kind = output_os::not_regular(path); kind != nullptr) {
    file.error = std::string("it is ") + kind + ", not a regular file";
    return false;
  }
  std::random_device random;
  int error = 0;
  const char* what = "";
  std::string partial;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    partial = partial_name(path, random);
    error = output_os::create_new(partial, file.handle, what);
    if (!output_os::already_exists(error)) break;
  }
  if (error != 0) {
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
  // A step that fails names itself and its file; the partial file goes.
  const auto give_up = [&file](int error, const char* what, const std::string& path) {
    failed(file, error, what, path);
    output_discard(file);
    return false;
  };
  const char* what = "";
  if (const int error = output_os::take_permissions(file.handle, file.path, what); error != 0) {
    return give_up(error, what, file.partial);
  }
  if (const int error = output_os::flush_and_close(file.handle, what); error != 0) {
    return give_up(error, what, file.partial);
  }
  if (const int error = output_os::replace(file.partial, file.path, what); error != 0) {
    return give_up(error, what, file.path);
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

// closefail: a folder for tests, mounted through FUSE like cartsim, whose writes show their error
// only at close, as network and FUSE folders that upload on close do:
//   closefail MOUNTPOINT --ready-file PATH [--from DIR]
//
// A flat folder held in memory: files are created, written, read, renamed, removed and given
// permissions as usual, but flushing a file to the disk is not supported (fsync is not
// implemented, which the kernel takes as done), and the close of a file that was written since it
// was opened fails with EIO, its bytes lost: the file is then empty. --from DIR puts a copy of the
// regular files of DIR in the folder at start (an earlier image, say). It serves in the
// foreground, one thread, until SIGINT or SIGTERM, then unmounts; the ready file is created once
// the mount answers.
#define FUSE_USE_VERSION 31
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

// In sanitizer builds: a session that ends with a request in flight (a close that failed, say)
// leaves that request's buffers in libfuse to the end of the process; they are libfuse's own.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfuse3.so\n"; }

namespace {

struct File {
  std::vector<char> bytes;
  mode_t mode = 0644;
};

struct Folder {
  std::map<std::string, File> files;  // by name, without the leading '/'
  std::string ready_file;
  time_t mounted = 0;
};

Folder& folder() { return *static_cast<Folder*>(fuse_get_context()->private_data); }

// The file at a path directly below the root; null for the root and for names not there.
File* file_at(const char* path) {
  if (path[0] != '/' || path[1] == '\0') return nullptr;
  const auto it = folder().files.find(path + 1);
  return it == folder().files.end() ? nullptr : &it->second;
}

void* closefail_init(fuse_conn_info*, fuse_config* config) {
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->direct_io = 1;  // every read and write reaches the folder
  Folder& f = folder();
  if (!f.ready_file.empty()) std::ofstream(f.ready_file) << "ready\n";
  return &f;
}

int closefail_getattr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  st->st_uid = ::getuid();
  st->st_gid = ::getgid();
  st->st_atime = st->st_mtime = st->st_ctime = folder().mounted;
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  const File* file = file_at(path);
  if (file == nullptr) return -ENOENT;
  st->st_mode = S_IFREG | file->mode;
  st->st_nlink = 1;
  st->st_size = static_cast<off_t>(file->bytes.size());
  return 0;
}

int closefail_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                      fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOTDIR;
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
  for (const auto& [name, file] : folder().files) fill(buffer, name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
  return 0;
}

// fi->fh: 1 once the open has written (or truncated) the file, so that its close fails.
int closefail_open(const char* path, fuse_file_info* fi) {
  File* file = file_at(path);
  if (file == nullptr) return -ENOENT;
  fi->fh = 0;
  if ((fi->flags & O_TRUNC) != 0 && (fi->flags & O_ACCMODE) != O_RDONLY) {
    file->bytes.clear();
    fi->fh = 1;
  }
  return 0;
}

int closefail_create(const char* path, mode_t mode, fuse_file_info* fi) {
  if (path[0] != '/' || std::strchr(path + 1, '/') != nullptr) return -EACCES;
  File& file = folder().files[path + 1];
  file.bytes.clear();
  file.mode = mode & 07777;
  fi->fh = 1;
  return 0;
}

int closefail_read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
  const File* file = file_at(path);
  if (file == nullptr) return -ENOENT;
  if (offset < 0 || static_cast<size_t>(offset) >= file->bytes.size()) return 0;
  const size_t n = std::min(size, file->bytes.size() - static_cast<size_t>(offset));
  std::memcpy(buffer, file->bytes.data() + offset, n);
  return static_cast<int>(n);
}

int closefail_write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  File* file = file_at(path);
  if (file == nullptr) return -ENOENT;
  if (offset < 0 || static_cast<uint64_t>(offset) + size > (uint64_t{1} << 30)) return -EFBIG;
  if (file->bytes.size() < static_cast<size_t>(offset) + size) file->bytes.resize(static_cast<size_t>(offset) + size);
  std::memcpy(file->bytes.data() + offset, buffer, size);
  fi->fh = 1;
  return static_cast<int>(size);
}

int closefail_truncate(const char* path, off_t length, fuse_file_info* fi) {
  File* file = file_at(path);
  if (file == nullptr) return -ENOENT;
  if (length < 0 || length > (off_t{1} << 30)) return -EFBIG;
  file->bytes.resize(static_cast<size_t>(length));
  if (fi != nullptr) fi->fh = 1;
  return 0;
}

int closefail_chmod(const char* path, mode_t mode, fuse_file_info*) {
  File* file = file_at(path);
  if (file == nullptr) return -ENOENT;
  file->mode = mode & 07777;
  return 0;
}

int closefail_unlink(const char* path) {
  return file_at(path) != nullptr && folder().files.erase(path + 1) == 1 ? 0 : -ENOENT;
}

int closefail_rename(const char* from, const char* to, unsigned int flags) {
  File* file = file_at(from);
  if (file == nullptr) return -ENOENT;
  if (flags != 0 || to[0] != '/' || std::strchr(to + 1, '/') != nullptr) return -EINVAL;
  File moved = std::move(*file);
  folder().files.erase(from + 1);
  folder().files[to + 1] = std::move(moved);
  return 0;
}

// The upload fails: the close reports it, and the bytes are gone.
int closefail_flush(const char* path, fuse_file_info* fi) {
  if (fi->fh == 0) return 0;
  fi->fh = 0;
  if (File* file = file_at(path); file != nullptr) file->bytes.clear();
  return -EIO;
}

fuse_operations make_operations() {
  fuse_operations ops{};
  ops.init = closefail_init;
  ops.getattr = closefail_getattr;
  ops.readdir = closefail_readdir;
  ops.open = closefail_open;
  ops.create = closefail_create;
  ops.read = closefail_read;
  ops.write = closefail_write;
  ops.truncate = closefail_truncate;
  ops.chmod = closefail_chmod;
  ops.unlink = closefail_unlink;
  ops.rename = closefail_rename;
  ops.flush = closefail_flush;
  return ops;  // no fsync: flushing to the disk is not supported
}

// The regular files of dir, as the folder's first contents.
bool load_from(const std::string& dir, Folder& f) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    File& file = f.files[entry.path().filename().string()];
    file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  Folder state;
  std::string mount_point;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--ready-file" || arg == "--from") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--ready-file") {
        state.ready_file = value;
      } else if (!load_from(value, state)) {
        std::fprintf(stderr, "closefail: cannot read %s\n", value.c_str());
        return 1;
      }
    } else if (mount_point.empty() && !arg.starts_with("--")) {
      mount_point = arg;
    } else {
      std::fprintf(stderr, "usage: closefail MOUNTPOINT --ready-file PATH [--from DIR]\n");
      return 2;
    }
  }
  if (mount_point.empty()) {
    std::fprintf(stderr, "usage: closefail MOUNTPOINT --ready-file PATH [--from DIR]\n");
    return 2;
  }
  state.mounted = std::time(nullptr);

  const char* fuse_argv[] = {argv[0], "-o", "fsname=closefail,subtype=closefail"};
  fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(fuse_argv));
  const fuse_operations ops = make_operations();
  fuse* fs = fuse_new(&args, &ops, sizeof ops, &state);
  fuse_opt_free_args(&args);
  if (fs == nullptr || fuse_mount(fs, mount_point.c_str()) != 0) {
    std::fprintf(stderr, "closefail: cannot mount %s\n", mount_point.c_str());
    if (fs != nullptr) fuse_destroy(fs);
    return 1;
  }
  // SIGINT and SIGTERM end the loop; the mount is undone below.
  fuse_session* session = fuse_get_session(fs);
  const bool handled = fuse_set_signal_handlers(session) == 0;
  const int loop = handled ? fuse_loop(fs) : -1;
  if (handled) fuse_remove_signal_handlers(session);
  fuse_unmount(fs);
  fuse_destroy(fs);
  return loop < 0 ? 1 : 0;
}

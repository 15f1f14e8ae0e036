// cartsim: the device model mounted as a real directory through FUSE, so that the system's own
// file primitives, the kernel's page cache and unbuffered reads meet it as they would meet the
// device's drive.
//   cartsim MOUNTPOINT --rom FILE [options]      (cartsim --help lists the options)
//
// One thread serves the mount (the device model is not thread-safe). Two others never touch the
// model: one waits for the mount's first answer to create the --ready-file, one waits for the stop
// signals (see Stopper). When the loop has ended the mount is gone and the statistics go to stderr.
//
// Page cache: the reply and dump files are opened with keep_cache and constant attributes, so
// pages the host once read stay in its cache across opens, as on a real drive whose contents the
// device changes behind the host's back. A buffered read may therefore see an old reply; an
// O_DIRECT read goes to cartsim every time, in full (see set_caching). --direct-io makes every
// read go to cartsim.
#define FUSE_USE_VERSION 31
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "sim/cartsim_drive.h"
#include "sim/cartsim_options.h"

extern char** environ;

// In sanitizer builds: when the session ends while the kernel still has a request in flight (the
// device was unplugged in the middle of a write), libfuse leaves that request's buffers to the end
// of the process. They are libfuse's own, not cartsim's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfuse3.so\n"; }

namespace {

using cartdump::sim::DriveFile;
using cartdump::sim::SimDrive;

struct Served {
  SimDrive* drive;
  bool direct_io;
  time_t mounted;
};

Served& served() { return *static_cast<Served*>(fuse_get_context()->private_data); }
SimDrive& drive() { return *served().drive; }

DriveFile file_of(const char* path, const fuse_file_info* fi) {
  return fi != nullptr ? static_cast<DriveFile>(fi->fh) : cartdump::sim::drive_file_at(path);
}

void* cartsim_init(fuse_conn_info* conn, fuse_config* config) {
  // Every lookup and stat reaches the drive, so that the files vanish at once when the device is
  // gone.
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  // The host is never told that a reply changed: cached pages stay valid in its eyes.
  conn->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
  return fuse_get_context()->private_data;
}

int cartsim_getattr(const char* path, struct stat* st, fuse_file_info* fi) {
  std::memset(st, 0, sizeof *st);
  st->st_uid = getuid();
  st->st_gid = getgid();
  st->st_atime = st->st_mtime = st->st_ctime = served().mounted;
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  const DriveFile file = file_of(path, fi);
  const int64_t size = drive().size(file);
  if (size < 0) {
    return static_cast<int>(size);
  }
  st->st_mode = S_IFREG | (file == DriveFile::command ? 0644 : 0444);
  st->st_nlink = 1;
  st->st_size = size;
  st->st_blocks = (size + 511) / 512;
  return 0;
}

int cartsim_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                    fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) {
    return -ENOTDIR;
  }
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
  if (!drive().gone()) {
    for (const DriveFile file : cartdump::sim::kDriveFiles) {
      fill(buffer, cartdump::sim::drive_file_name(file), nullptr, 0, fuse_fill_dir_flags{});
    }
  }
  return 0;
}

// How the kernel may cache an open of the reply or dump file. An unbuffered open (O_DIRECT) is
// served straight, every read of it answered by cartsim alone: without this the kernel completes a
// short unbuffered read from the page cache, so the host would never see the short count, and
// would get a possibly stale tail. It keeps the pages of buffered opens (keep_cache), which a
// later buffered open may still find.
void set_caching(DriveFile file, fuse_file_info* fi) {
  fi->fh = static_cast<uint64_t>(file);
  if (file == DriveFile::reply || file == DriveFile::dump) {
    fi->direct_io = served().direct_io || (fi->flags & O_DIRECT) != 0;
    fi->keep_cache = !served().direct_io;
  }
}

int cartsim_open(const char* path, fuse_file_info* fi) {
  const DriveFile file = cartdump::sim::drive_file_at(path);
  const int result = drive().open(file, fi->flags);
  if (result == 0) {
    set_caching(file, fi);
  }
  return result;
}

int cartsim_create(const char* path, mode_t, fuse_file_info* fi) {
  const DriveFile file = cartdump::sim::drive_file_at(path);
  const int result = drive().create(file);
  if (result == 0) {
    set_caching(file, fi);
  }
  return result;
}

int cartsim_truncate(const char* path, off_t length, fuse_file_info* fi) {
  return drive().truncate(file_of(path, fi), static_cast<uint64_t>(length));
}

int cartsim_read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  return drive().read(file_of(path, fi), static_cast<uint64_t>(offset), reinterpret_cast<uint8_t*>(buffer), size);
}

int cartsim_write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  return drive().write(file_of(path, fi), static_cast<uint64_t>(offset), reinterpret_cast<const uint8_t*>(buffer),
                       size);
}

// Nothing is buffered inside cartsim: a write has reached the device when it returns.
int cartsim_fsync(const char*, int, fuse_file_info*) { return 0; }
int cartsim_flush(const char*, fuse_file_info*) { return 0; }
int cartsim_release(const char*, fuse_file_info*) { return 0; }

fuse_operations make_operations() {
  fuse_operations ops{};
  ops.init = cartsim_init;
  ops.getattr = cartsim_getattr;
  ops.readdir = cartsim_readdir;
  ops.open = cartsim_open;
  ops.create = cartsim_create;
  ops.truncate = cartsim_truncate;
  ops.read = cartsim_read;
  ops.write = cartsim_write;
  ops.fsync = cartsim_fsync;
  ops.flush = cartsim_flush;
  ops.release = cartsim_release;
  return ops;
}

// Waits for the mount's first answer, then creates the ready file. unmounted_device is the device
// of the mount point before the mount, so that a mount already gone again is not announced.
void announce_ready(std::string mount_point, std::string ready_file, dev_t unmounted_device) {
  struct stat st{};
  if (::stat(mount_point.c_str(), &st) != 0 || st.st_dev == unmounted_device) {
    std::fprintf(stderr, "cartsim: the mount did not answer\n");
    return;
  }
  if (ready_file.empty()) {
    return;
  }
  const int fd = ::open(ready_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "cartsim: cannot create %s: %s\n", ready_file.c_str(), std::strerror(errno));
    return;
  }
  const std::string text = mount_point + "\n";
  if (::write(fd, text.data(), text.size()) < 0) {
    std::fprintf(stderr, "cartsim: cannot write %s: %s\n", ready_file.c_str(), std::strerror(errno));
  }
  ::close(fd);
}

// Stopping. SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken by one thread that
// only waits for them. The first detaches the mount and leaves the loop serving: the kernel still
// sends what it owes (the releases of files the host has just closed come late), and closes the
// connection once every file is released, which ends the loop with nothing left half done. A
// second signal, or files still held open after kGrace, end the loop at once: SIGUSR1 interrupts
// its wait for the next request.
constexpr auto kGrace = std::chrono::seconds(2);
constexpr long kTickNs = 50'000'000;

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

void interrupt_wait(int) {}

struct Stopper {
  pthread_t serving;
  fuse_session* session;
  std::string mount_point;
  std::atomic<bool> loop_ended{false};
  std::atomic<int> signal{0};
};

// Detaches the mount: directly as root, through fusermount3 otherwise.
void detach_mount(const std::string& mount_point) {
  if (::geteuid() == 0) {
    ::umount2(mount_point.c_str(), MNT_DETACH);
    return;
  }
  const char* argv[] = {"fusermount3", "-u", "-z", mount_point.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawnp(&pid, "fusermount3", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) {
    ::waitpid(pid, nullptr, 0);
  }
}

void wait_for_stop(Stopper& stopper) {
  const sigset_t signals = stop_signals();
  bool detached = false;
  bool forced = false;
  auto detached_at = std::chrono::steady_clock::now();
  while (!stopper.loop_ended) {
    const timespec tick{0, kTickNs};
    const int signal = sigtimedwait(&signals, nullptr, &tick);
    if (signal > 0 && !detached) {
      stopper.signal = signal;
      detach_mount(stopper.mount_point);
      detached = true;
      detached_at = std::chrono::steady_clock::now();
    } else if (signal > 0 || (detached && std::chrono::steady_clock::now() - detached_at > kGrace)) {
      forced = true;
    }
    if (forced) {
      fuse_session_exit(stopper.session);
      pthread_kill(stopper.serving, SIGUSR1);
    }
  }
}

bool load_file(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    return false;
  }
  bytes.resize(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())));
}

}  // namespace

int main(int argc, char** argv) {
  cartdump::sim::CartsimOptions options;
  const std::string complaint = cartdump::sim::parse_cartsim_options(argc, argv, options);
  if (options.help) {
    std::fputs(cartdump::sim::cartsim_usage(), stdout);
    return 0;
  }
  if (!complaint.empty()) {
    std::fprintf(stderr, "cartsim: %s\n(cartsim --help lists the options)\n", complaint.c_str());
    return 2;
  }
  if (!load_file(options.rom_path, options.device.rom)) {
    std::fprintf(stderr, "cartsim: cannot read the cartridge %s: %s\n", options.rom_path.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::FILE* log = nullptr;
  if (!options.log_path.empty() && (log = std::fopen(options.log_path.c_str(), "w")) == nullptr) {
    std::fprintf(stderr, "cartsim: cannot create the log %s: %s\n", options.log_path.c_str(), std::strerror(errno));
    return 1;
  }
  struct stat unmounted{};
  if (::stat(options.mount_point.c_str(), &unmounted) != 0 || !S_ISDIR(unmounted.st_mode)) {
    std::fprintf(stderr, "cartsim: the mount point %s is not a directory\n", options.mount_point.c_str());
    return 1;
  }

  // From here on the stop signals wait for the stopping thread, also in the threads started below.
  const sigset_t signals = stop_signals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  struct sigaction interrupt{};
  interrupt.sa_handler = interrupt_wait;  // no SA_RESTART: the loop's read returns EINTR
  sigaction(SIGUSR1, &interrupt, nullptr);

  cartdump::sim::Device device(options.device);
  SimDrive sim_drive(options, device, log);
  Served state{&sim_drive, options.direct_io, std::time(nullptr)};

  const char* fuse_argv[] = {argv[0], "-o", "fsname=cartsim,subtype=cartsim"};
  fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(fuse_argv));
  const fuse_operations ops = make_operations();
  fuse* fs = fuse_new(&args, &ops, sizeof ops, &state);
  fuse_opt_free_args(&args);
  if (fs == nullptr) {
    std::fprintf(stderr, "cartsim: cannot set up FUSE\n");
    return 1;
  }
  if (fuse_mount(fs, options.mount_point.c_str()) != 0) {
    std::fprintf(stderr, "cartsim: cannot mount %s\n", options.mount_point.c_str());
    fuse_destroy(fs);
    return 1;
  }
  Stopper stopper{pthread_self(), fuse_get_session(fs), options.mount_point};
  std::thread stopping(wait_for_stop, std::ref(stopper));
  std::thread ready(announce_ready, options.mount_point, options.ready_file, unmounted.st_dev);
  // The link model's waits end at their deadlines: no timer slack on the serving thread.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  const int loop = fuse_loop(fs);
  stopper.loop_ended = true;
  fuse_unmount(fs);  // closes the connection; undoes the mount if it is still there
  stopping.join();
  ready.join();
  std::fprintf(stderr, "%s\n", sim_drive.statistics().c_str());
  if (stopper.signal != 0) {
    std::fprintf(stderr, "cartsim: stopped by signal %d, unmounted %s\n", stopper.signal.load(),
                 options.mount_point.c_str());
  } else {
    std::fprintf(stderr, "cartsim: %s was unmounted\n", options.mount_point.c_str());
  }
  fuse_destroy(fs);
  if (log != nullptr) {
    std::fclose(log);
  }
  return loop < 0 ? 1 : 0;
}

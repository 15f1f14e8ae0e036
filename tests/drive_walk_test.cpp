// The Linux drive walk on a mountinfo file and a sysfs tree made in a scratch directory, and
// discovery pointed at a directory through the walk's two overrides, on the real platform files.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/device_state.h"
#include "link/discovery.h"
#include "link/drive_walk_posix.h"
#include "link/hid_backend.h"
#include "link/hid_link.h"
#include "link/sector.h"

namespace cartdump {
namespace {

namespace fs = std::filesystem;

void write_text(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// Sets an environment variable for the life of the guard.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class DriveWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::current_path() / "drive_walk_scratch" / info->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    sysfs_ = dir_ / "sys";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A block device as sysfs shows it: sys/devices/.../NAME with its flags, reached through
  // sys/dev/block/MAJ:MIN. parent names the disk of a partition.
  void block_device(const std::string& number, const std::string& name, const std::string& parent,
                    const char* removable) {
    const fs::path devices = sysfs_ / "devices" / "pci0000:00" / "usb1";
    const fs::path directory = parent.empty() ? devices / name : devices / parent / name;
    fs::create_directories(directory);
    write_text(directory / "uevent", "MAJOR=8\nDEVNAME=" + name + "\nDEVTYPE=" +
                                         (parent.empty() ? "disk" : "partition") + "\n");
    if (!parent.empty()) write_text(directory / "partition", "1\n");
    if (removable != nullptr) write_text(directory / "removable", std::string(removable) + "\n");
    fs::create_directories(sysfs_ / "dev" / "block");
    fs::create_symlink(fs::relative(directory, sysfs_ / "dev" / "block"), sysfs_ / "dev" / "block" / number);
  }

  std::string mountinfo(const std::string& lines) {
    const fs::path path = dir_ / "mountinfo";
    write_text(path, lines);
    return path.string();
  }

  fs::path dir_;
  fs::path sysfs_;
};

// A fixed disk's partition at /, a pseudo filesystem with no block device, a USB stick's
// partition under a name with a space, an optical drive (a whole disk), a partition of a fixed
// disk that carries a removable flag of its own (a partition's own flag does not count), and a
// whole removable disk mounted without partitions.
TEST_F(DriveWalk, ListsMountsInOrderWithTheirRemovableFlags) {
  block_device("8:0", "sda", "", "0");
  block_device("8:1", "sda1", "sda", nullptr);
  block_device("8:16", "sdb", "", "1");
  block_device("8:17", "sdb1", "sdb", nullptr);
  block_device("11:0", "sr0", "", "1");
  block_device("8:32", "sdc", "", "0");
  block_device("8:33", "sdc1", "sdc", "1");
  const std::string info = mountinfo(
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
      "40 22 8:17 / /media/user/CART\\040READER rw,nosuid shared:30 master:2 - vfat /dev/sdb1 rw,uid=1000\n"
      "41 22 11:0 / /mnt/cd\\011rom ro - iso9660 /dev/sr0 ro\n"
      "42 22 8:33 / /mnt/data rw - ext4 /dev/sdc1 rw\n"
      "43 22 8:16 / /mnt/back\\134slash rw - vfat /dev/sdb rw\n");

  struct Expected {
    std::string root;
    bool removable;
    std::string device;
  };
  const std::vector<Expected> expected = {
      {"/", false, "sda1"},
      {"/proc/", false, ""},
      {"/media/user/CART READER/", true, "sdb1"},
      {"/mnt/cd\trom/", true, "sr0"},
      {"/mnt/data/", false, "sdc1"},
      {"/mnt/back\\slash/", true, "sdb"},
  };
  const std::vector<DriveVolume> volumes = drive_walk_volumes_from(info.c_str(), sysfs_.c_str());
  ASSERT_EQ(volumes.size(), expected.size());
  for (size_t i = 0; i < volumes.size(); ++i) {
    SCOPED_TRACE(expected[i].root);
    EXPECT_EQ(std::string(volumes[i].root.data()), expected[i].root);
    EXPECT_EQ(volumes[i].removable, expected[i].removable);
    EXPECT_EQ(std::string(volumes[i].device.data()), expected[i].device);
  }
}

TEST_F(DriveWalk, MissingSourcesGiveNoVolumes) {
  EXPECT_TRUE(drive_walk_volumes_from((dir_ / "none").c_str(), sysfs_.c_str()).empty());
  // Lines that are not mounts are skipped.
  const std::string info = mountinfo("garbage\n\n40 22 8:17 / /media/stick rw - vfat /dev/sdb1 rw\n");
  const std::vector<DriveVolume> volumes = drive_walk_volumes_from(info.c_str(), sysfs_.c_str());
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_FALSE(volumes[0].removable) << "no sysfs entry: not removable";
}

TEST_F(DriveWalk, LabelsComeFromTheByLabelLinks) {
  const fs::path labels = dir_ / "by-label";
  fs::create_directories(labels);
  fs::create_symlink("../../sda1", labels / "rootfs");
  fs::create_symlink("../../sdb1", labels / "CART\\x20READER");
  DriveVolume stick;
  std::string("sdb1").copy(stick.device.data(), 4);

  char label[64];
  EXPECT_TRUE(drive_walk_label_in(labels.c_str(), stick, label, sizeof label));
  EXPECT_STREQ(label, "CART READER");
  EXPECT_TRUE(drive_walk_label_in(labels.c_str(), stick, label, 5));
  EXPECT_STREQ(label, "CART");

  DriveVolume unlabelled;
  std::string("sdc1").copy(unlabelled.device.data(), 4);
  EXPECT_FALSE(drive_walk_label_in(labels.c_str(), unlabelled, label, sizeof label));
  EXPECT_STREQ(label, "");
  EXPECT_FALSE(drive_walk_label_in((dir_ / "no such dir").c_str(), stick, label, sizeof label));
  EXPECT_STREQ(label, "");
}

// Discovery on the real platform files, pointed at a directory that holds a device's reply file:
// no HID device is present, a fixed volume comes first, and the directory is a removable one.
TEST_F(DriveWalk, OpenDeviceFindsADirectoryThroughTheOverrides) {
  const fs::path drive = dir_ / "cart drive";
  fs::create_directories(drive);
  std::vector<uint8_t> reply(kIdentityOffset + kIdentityBlockSize, 0);
  for (int i = 0; i < 8; ++i) reply[i] = static_cast<uint8_t>(0xA0 + i);  // the answer to the request
  const std::string name = "CARTSIM N64 READER";
  std::copy(name.begin(), name.end(), reply.begin() + kIdentityOffset);
  std::ofstream(drive / "T-DRIVER.DMP", std::ios::binary)
      .write(reinterpret_cast<const char*>(reply.data()), static_cast<std::streamsize>(reply.size()));

  block_device("8:1", "sda1", "sda", nullptr);
  write_text(sysfs_ / "devices" / "pci0000:00" / "usb1" / "sda" / "removable", "0\n");
  block_device("8:17", "sdb1", "sdb", nullptr);
  write_text(sysfs_ / "devices" / "pci0000:00" / "usb1" / "sdb" / "removable", "1\n");
  std::string escaped = drive.string();
  escaped.replace(escaped.find("cart drive"), 10, "cart\\040drive");
  const std::string info = mountinfo("22 1 8:1 / " + dir_.string() + " rw - ext4 /dev/sda1 rw\n" +
                                     "40 22 8:17 / " + escaped + " rw - vfat /dev/sdb1 rw\n");
  ScopedEnv mounts(kMountinfoOverride, info);
  ScopedEnv sys(kSysfsOverride, sysfs_.string());

  device_state = DeviceState{};
  ASSERT_TRUE(open_device());
  EXPECT_EQ(device_state.link_kind, kLinkDrive);
  EXPECT_EQ(device_state.hid_mode, 0);
  EXPECT_EQ(std::string(device_state.drive_root.data()), drive.string() + "/");
  EXPECT_EQ(std::string(device_state.device_name.data()), name);
  EXPECT_EQ(device_state.device_id, (std::array<uint8_t, 8>{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}));
  // The identity request was written as the command file in the drive's root.
  std::ifstream command(drive / "CMD.CMD", std::ios::binary);
  std::vector<uint8_t> sector((std::istreambuf_iterator<char>(command)), std::istreambuf_iterator<char>());
  ASSERT_EQ(sector.size(), 512u);
  EXPECT_EQ(sector[1], 0xF0);
  EXPECT_EQ(sector[2], 0x04);
  device_state = DeviceState{};
}

// The real HID host side with no device of the kind present: discovery's enumeration lists
// nothing, at once, and a listed-nothing link refuses transfers.
TEST(HidHost, EnumeratingForAnAbsentDeviceListsNothing) {
  EXPECT_EQ(hid_open_devices(1, 0xFFFE, 0xFFFE, -1, -1), 0);
  EXPECT_EQ(hid_list_at(0), nullptr);
  uint8_t report[64] = {0x10};
  EXPECT_EQ(hid_write_report(0, report, 64, 100), -1);
  EXPECT_EQ(hid_read_report(0, report, 64, 100), -1);
}

// A failed open gives the system's reason. Refused access (EACCES, EPERM) is what n64dump --devices
// turns into the hint about the udev rule: a hidraw node the user may not open is played by a file
// of mode 0, opened by a process that is not root.
TEST(HidHost, AFailedOpenGivesTheSystemsReason) {
  EXPECT_EQ(hid_backend_open("/nonexistent/hidraw99"), nullptr);
  EXPECT_EQ(hid_backend_error_code(), ENOENT);
  EXPECT_FALSE(hid_backend_access_denied(ENOENT));
  EXPECT_TRUE(hid_backend_access_denied(EACCES));
  EXPECT_TRUE(hid_backend_access_denied(EPERM));

  char node[] = "/tmp/cartdump-hidraw-XXXXXX";
  const int fd = ::mkstemp(node);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ASSERT_EQ(::chmod(node, 0), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::getuid() == 0 && ::setuid(65534) != 0) ::_exit(100);
    const bool opened = hid_backend_open(node) != nullptr;
    ::_exit(opened ? 101 : static_cast<int>(hid_backend_error_code() & 0x7F));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::unlink(node);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), EACCES);
}

}  // namespace
}  // namespace cartdump

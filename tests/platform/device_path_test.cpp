#include "platform/device_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/host_info.h"

namespace vorlin {
namespace platform {
namespace {

const char kMountInfo[] =
    "21 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
    "22 21 0:20 / /proc rw,nosuid - proc proc rw\n"
    "23 21 8:3 / /home rw,relatime shared:2 - xfs /dev/sda3 rw\n"
    "24 21 0:45 / /mnt/nas rw,relatime - nfs4 fileserver:/export/data rw,addr=10.0.0.5\n"
    "25 21 0:46 / /mnt/win\\040share rw - cifs //winbox/Public rw\n"
    "26 21 0:47 / /mnt/ssh rw shared:9 master:3 - fuse.sshfs alice@devhost:/srv/projects rw\n"
    "27 21 8:3 /alice/data /srv/data rw - xfs /dev/sda3 rw\n"
    "28 21 0:50 / /tmp rw - tmpfs tmpfs rw\n"
    // The kernel writes backslashes as \134.
    "29 21 0:51 / /mnt/back rw - cifs \\134\\134oldbox\\134Backups\\1342024 rw\n"
    "30 21 0:52 / /mnt/ceph rw - ceph mon1:6789,mon2:6789:/volumes/a rw\n"
    "31 21 259:1 / /media/usb rw - weirdfs /dev/nvme0n1p1 rw\n"
    "32 21 0:61 / /run/user rw - fuse.portal portal rw\n"
    "malformed line\n";

std::wstring Map(unsigned major, unsigned minor, const std::string& path,
                 const char* mountInfo = kMountInfo) {
  std::wstring devicePath;
  if (!DevicePathFromMountInfo(mountInfo, DeviceNumber{major, minor}, path, &devicePath))
    return L"<none>";
  return devicePath;
}

TEST(DevicePathFromMountInfo, VolumesSharesAndPseudoFileSystems) {
  const struct {
    unsigned major, minor;
    const char* path;
    const wchar_t* want;
  } cases[] = {
      {8, 2, "/etc/hosts", L"\\Device\\HarddiskVolume1\\etc\\hosts"},
      {8, 3, "/home/bob/a.qzv", L"\\Device\\HarddiskVolume2\\bob\\a.qzv"},
      // A bind mount is the same volume, and its root is part of the path.
      {8, 3, "/srv/data/x/y.qzv", L"\\Device\\HarddiskVolume2\\alice\\data\\x\\y.qzv"},
      {0, 50, "/tmp/f", L"\\Device\\HarddiskVolume3\\f"},
      {259, 1, "/media/usb/f", L"\\Device\\HarddiskVolume4\\f"},
      {8, 3, "/home", L"\\Device\\HarddiskVolume2\\"},
      {0, 45, "/mnt/nas/sub/f.qzv", L"\\Device\\MUP\\fileserver\\export\\data\\sub\\f.qzv"},
      {0, 46, "/mnt/win share/f.qzv", L"\\Device\\MUP\\winbox\\Public\\f.qzv"},
      {0, 47, "/mnt/ssh/p/f", L"\\Device\\MUP\\devhost\\srv\\projects\\p\\f"},
      {0, 51, "/mnt/back/f", L"\\Device\\MUP\\oldbox\\Backups\\2024\\f"},
      {0, 52, "/mnt/ceph/f", L"\\Device\\MUP\\mon1\\volumes\\a\\f"},
      {0, 20, "/proc/self/status", L"<none>"},
      {0, 61, "/run/user/f", L"<none>"},
      {8, 2, "relative/path", L"<none>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Map(c.major, c.minor, c.path), c.want) << c.path;
  EXPECT_EQ(Map(8, 2, "/etc/hosts", ""), L"<none>");
}

TEST(DevicePathFromMountInfo, ChoosesTheMountThatHoldsThePath) {
  // "/mnt/nasty" is not below "/mnt/nas"; even with the share's device
  // number the file belongs to "/".
  EXPECT_EQ(Map(0, 45, "/mnt/nasty/f"), L"\\Device\\HarddiskVolume1\\mnt\\nasty\\f");
  // btrfs subvolumes report device numbers the mount table never lists.
  const char btrfs[] =
      "1 0 0:30 /@ / rw - btrfs /dev/sda1 rw\n"
      "2 1 0:30 /@home /home rw - btrfs /dev/sda1 rw\n";
  EXPECT_EQ(Map(0, 99, "/home/u/f", btrfs), L"\\Device\\HarddiskVolume1\\@home\\u\\f");
  // A later mount on the same point hides the earlier one.
  const char stacked[] =
      "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
      "2 1 0:40 / /data rw - nfs old:/a rw\n"
      "3 1 0:40 / /data rw - nfs new:/b rw\n";
  EXPECT_EQ(Map(0, 40, "/data/f", stacked), L"\\Device\\MUP\\new\\b\\f");
}

TEST(HostInfo, NameAndLoopbackAddress) {
  EXPECT_FALSE(HostName().empty());
  std::vector<std::string> addresses = HostAddressesIPv4("localhost");
  EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
  EXPECT_TRUE(HostAddressesIPv4("").empty());
}

}  // namespace
}  // namespace platform
}  // namespace vorlin

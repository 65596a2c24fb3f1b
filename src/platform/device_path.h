#ifndef VORLIN_PLATFORM_DEVICE_PATH_H
#define VORLIN_PLATFORM_DEVICE_PATH_H

#include <string>

#include "platform/file.h"

namespace vorlin {
namespace platform {

// Identifies a mounted file system, as in the major:minor field of
// /proc/self/mountinfo.
struct DeviceNumber {
  unsigned major = 0;
  unsigned minor = 0;
};

// Device path of a file, in the form the library's callers compare against:
//   network file systems  "\Device\MUP\<server>\<path on the server>"
//   local storage         "\Device\HarddiskVolume<n>\<path in the volume>"
// where <n> numbers the distinct local file systems of the mount table from
// 1 in the order they first appear. Pseudo file systems (proc, sysfs, ...)
// and unknown ones without a block device have no device path.
//
// mountInfo is the text of /proc/self/mountinfo, device the file's st_dev
// split into major and minor, path the file's absolute canonical path (as
// UTF-8). The mount is the one of that device whose mount point is the
// longest leading part of path; when no mount carries the device (btrfs
// subvolumes report their own device numbers) the longest mount point of
// any device is used. False when nothing fits.
bool DevicePathFromMountInfo(const std::string& mountInfo, DeviceNumber device,
                             const std::string& path, std::wstring* devicePath);

// Device path of an open regular file. The canonical path is taken from the
// handle and, failing that, from name. False for anything that is not a
// regular file and whenever the mount table gives no device path.
bool DevicePathOfFile(const File& file, const wchar_t* name, std::wstring* devicePath);

}  // namespace platform
}  // namespace vorlin

#endif

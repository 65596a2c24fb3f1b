#include "platform/device_path.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "platform/wide_string.h"

namespace vorlin {
namespace platform {
namespace {

struct MountEntry {
  DeviceNumber device;
  std::string root;        // directory of the file system that is mounted
  std::string mountPoint;
  std::string type;
  std::string source;
};

enum class MountKind { kLocal, kNetwork, kPseudo };

// Shares of another machine. 9p and virtiofs are deliberately absent: they
// carry a virtual machine's host folders and are treated as local storage.
const char* const kNetworkTypes[] = {
    "nfs",       "nfs4",          "cifs",           "smb3",       "smbfs",
    "ncpfs",     "afs",           "ceph",           "glusterfs",  "lustre",
    "beegfs",    "gpfs",          "orangefs",       "pvfs2",      "davfs",
    "fuse.sshfs", "fuse.glusterfs", "fuse.ceph-fuse", "fuse.s3fs", "fuse.rclone",
    "fuse.gcsfuse", "fuse.davfs2",
};

// File systems on storage of this machine that need not name a block
// device as their source (memory-backed, layered or virtual-machine host
// folders); any other type whose source is a /dev node also counts.
const char* const kLocalTypes[] = {
    "ext2",  "ext3",   "ext4",     "xfs",   "btrfs", "vfat",    "msdos",
    "exfat", "ntfs",   "ntfs3",    "fuseblk", "f2fs", "zfs",    "jfs",
    "reiserfs", "hfs", "hfsplus",  "iso9660", "udf", "nilfs2", "bcachefs",
    "squashfs", "erofs", "overlay", "tmpfs", "ramfs", "9p",     "virtiofs",
};

bool InList(const std::string& type, const char* const* list, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (type == list[i]) return true;
  }
  return false;
}

MountKind Classify(const MountEntry& entry) {
  if (InList(entry.type, kNetworkTypes, sizeof kNetworkTypes / sizeof *kNetworkTypes))
    return MountKind::kNetwork;
  if (InList(entry.type, kLocalTypes, sizeof kLocalTypes / sizeof *kLocalTypes))
    return MountKind::kLocal;
  if (entry.source.compare(0, 5, "/dev/") == 0) return MountKind::kLocal;
  return MountKind::kPseudo;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// The kernel writes space, tab, newline and backslash as \ooo.
std::string DecodeEscapes(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
        IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
      int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      out.push_back(static_cast<char>(value & 0xFF));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

bool ParseUnsigned(const std::string& text, unsigned* value) {
  if (text.empty() || text.size() > 9) return false;
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  *value = v;
  return true;
}

bool ParseDeviceNumber(const std::string& text, DeviceNumber* device) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  return ParseUnsigned(text.substr(0, colon), &device->major) &&
         ParseUnsigned(text.substr(colon + 1), &device->minor);
}

// "id parent major:minor root mountpoint options [optional...] - type source superoptions"
bool ParseLine(const std::string& line, MountEntry* entry) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  std::string field;
  while (in >> field) fields.push_back(field);
  if (fields.size() < 8) return false;
  size_t separator = 6;
  while (separator < fields.size() && fields[separator] != "-") ++separator;
  if (separator + 1 >= fields.size()) return false;
  if (!ParseDeviceNumber(fields[2], &entry->device)) return false;
  entry->root = DecodeEscapes(fields[3]);
  entry->mountPoint = DecodeEscapes(fields[4]);
  entry->type = fields[separator + 1];
  entry->source = separator + 2 < fields.size() ? DecodeEscapes(fields[separator + 2]) : "";
  return true;
}

// True when path lies in or at mountPoint; relative receives the rest.
bool IsUnder(const std::string& path, const std::string& mountPoint, std::string* relative) {
  if (mountPoint.empty() || mountPoint[0] != '/') return false;
  if (mountPoint == "/") {
    if (path.empty() || path[0] != '/') return false;
    *relative = path.substr(1);
    return true;
  }
  if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
  if (path.size() == mountPoint.size()) {
    relative->clear();
    return true;
  }
  if (path[mountPoint.size()] != '/') return false;
  *relative = path.substr(mountPoint.size() + 1);
  return true;
}

// Appends every non-empty '/'-separated component as "\component".
void AppendComponents(const std::string& slashPath, std::string* out) {
  size_t start = 0;
  while (start <= slashPath.size()) {
    size_t end = slashPath.find('/', start);
    if (end == std::string::npos) end = slashPath.size();
    if (end > start) {
      out->push_back('\\');
      out->append(slashPath, start, end - start);
    }
    start = end + 1;
  }
}

// Splits a network mount's source into the server and the path on it:
// "//server/share/dir", "\\server\share", "server:/export",
// "user@host:/dir", "[v6addr]:/export", "mon1:6789,mon2:6789:/path".
bool SplitNetworkSource(const std::string& source, std::string* server, std::string* remotePath) {
  std::string s = source;
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  std::string host;
  if (s.compare(0, 2, "//") == 0) {
    size_t slash = s.find('/', 2);
    host = s.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    *remotePath = slash == std::string::npos ? "" : s.substr(slash + 1);
  } else if (!s.empty() && s[0] == '[') {
    size_t close = s.find(']');
    if (close == std::string::npos) return false;
    host = s.substr(1, close - 1);
    std::string rest = s.substr(close + 1);
    *remotePath = rest.empty() ? "" : rest.substr(rest[0] == ':' ? 1 : 0);
  } else {
    size_t colon = s.find(":/");
    if (colon == std::string::npos) colon = s.find(':');
    if (colon == std::string::npos) {
      // No recognisable "host:path": the source names the share itself.
      size_t slash = s.find('/');
      host = s.substr(0, slash);
      *remotePath = slash == std::string::npos ? "" : s.substr(slash + 1);
    } else {
      host = s.substr(0, colon);
      *remotePath = s.substr(colon + 1);
      host = host.substr(0, host.find(','));        // first of several servers
      size_t at = host.rfind('@');
      if (at != std::string::npos) host = host.substr(at + 1);  // user name
      host = host.substr(0, host.find(':'));        // port
    }
  }
  if (host.empty()) return false;
  *server = host;
  return true;
}

}  // namespace

bool DevicePathFromMountInfo(const std::string& mountInfo, DeviceNumber device,
                             const std::string& path, std::wstring* devicePath) {
  if (devicePath == nullptr || path.empty() || path[0] != '/') return false;

  std::vector<MountEntry> entries;
  std::istringstream lines(mountInfo);
  std::string line;
  while (std::getline(lines, line)) {
    MountEntry entry;
    if (ParseLine(line, &entry)) entries.push_back(entry);
  }

  // A later mount on the same point hides the earlier one, hence ">=".
  auto findMount = [&](bool matchDevice, std::string* relative) -> const MountEntry* {
    const MountEntry* best = nullptr;
    for (const MountEntry& entry : entries) {
      if (matchDevice &&
          (entry.device.major != device.major || entry.device.minor != device.minor))
        continue;
      std::string rest;
      if (!IsUnder(path, entry.mountPoint, &rest)) continue;
      if (best == nullptr || entry.mountPoint.size() >= best->mountPoint.size()) {
        best = &entry;
        *relative = rest;
      }
    }
    return best;
  };
  std::string relative;
  const MountEntry* mount = findMount(true, &relative);
  if (mount == nullptr) mount = findMount(false, &relative);
  if (mount == nullptr) return false;

  std::string result;
  switch (Classify(*mount)) {
    case MountKind::kPseudo:
      return false;
    case MountKind::kNetwork: {
      std::string server;
      std::string remotePath;
      if (!SplitNetworkSource(mount->source, &server, &remotePath)) return false;
      result = "\\Device\\MUP\\" + server;
      AppendComponents(remotePath, &result);
      break;
    }
    case MountKind::kLocal: {
      std::vector<DeviceNumber> volumes;
      size_t volume = 0;
      for (const MountEntry& entry : entries) {
        if (Classify(entry) != MountKind::kLocal) continue;
        size_t index = 0;
        while (index < volumes.size() && (volumes[index].major != entry.device.major ||
                                          volumes[index].minor != entry.device.minor))
          ++index;
        if (index == volumes.size()) volumes.push_back(entry.device);
        if (&entry == mount) volume = index + 1;
      }
      result = "\\Device\\HarddiskVolume" + std::to_string(volume);
      break;
    }
  }
  size_t prefixLength = result.size();
  AppendComponents(mount->root, &result);
  AppendComponents(relative, &result);
  if (result.size() == prefixLength) result.push_back('\\');
  *devicePath = FromUtf8(result);
  return true;
}

bool DevicePathOfFile(const File& file, const wchar_t* name, std::wstring* devicePath) {
  if (!file.IsValid() || devicePath == nullptr) return false;
  struct stat info;
  if (fstat(file.NativeHandle(), &info) != 0 || !S_ISREG(info.st_mode)) return false;

  std::string path;
  char buffer[PATH_MAX + 1];
  std::string link = "/proc/self/fd/" + std::to_string(file.NativeHandle());
  ssize_t length = readlink(link.c_str(), buffer, PATH_MAX);
  if (length > 0 && buffer[0] == '/') {
    path.assign(buffer, static_cast<size_t>(length));
  } else if (name != nullptr) {
    char* resolved = realpath(ToUtf8(name).c_str(), nullptr);
    if (resolved == nullptr) return false;
    path = resolved;
    free(resolved);
  } else {
    return false;
  }

  std::ifstream in("/proc/self/mountinfo");
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  DeviceNumber device;
  device.major = major(info.st_dev);
  device.minor = minor(info.st_dev);
  return DevicePathFromMountInfo(text.str(), device, path, devicePath);
}

}  // namespace platform
}  // namespace vorlin

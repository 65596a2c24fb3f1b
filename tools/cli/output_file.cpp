#include "output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_common.h"
#include "interrupts.h"

namespace vorlin {
namespace cli {

namespace {

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPrefix(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A fresh hidden sibling of target; unique within this process by a counter.
std::string HiddenSibling(const std::string& target) {
  static unsigned counter = 0;
  return FolderPrefix(target) + "." + BaseName(target) + ".partial-" + std::to_string(getpid()) +
         "-" + std::to_string(++counter);
}

std::string KindProblem(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return "is a folder";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "is a device, not a file";
  if (S_ISFIFO(info.st_mode)) return "is a FIFO (named pipe), not a file";
  if (S_ISSOCK(info.st_mode)) return "is a socket, not a file";
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  return std::string();
}

}  // namespace

std::string OutputProblem(const std::string& path, bool force, std::string& target) {
  target = path;
  if (path.empty()) return "the name is empty";
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      if (errno == ENOTDIR) return Quote(ParentFolder(path)) + " is not a folder";
      return std::string("cannot be examined (") + strerror(errno) + ")";
    }
    return OutputFolderProblem(path);
  }
  if (S_ISLNK(info.st_mode)) {
    if (!force) return "is a symbolic link; give --force to write to the file it names";
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) {
      // A dangling link: its target's folder decides.
      char link[PATH_MAX];
      ssize_t length = readlink(path.c_str(), link, sizeof link - 1);
      if (length <= 0) return "is a symbolic link that cannot be read";
      link[length] = '\0';
      std::string named(link);
      if (named[0] != '/') named = FolderPrefix(path) + named;
      if (lstat(named.c_str(), &info) == 0) return "is a symbolic link to a link that cannot be followed";
      target = named;
      return OutputFolderProblem(named);
    }
    target = resolved;
    if (stat(resolved, &info) != 0) return std::string("cannot be examined (") + strerror(errno) + ")";
  }
  std::string kind = KindProblem(info);
  if (!kind.empty()) return kind;
  if ((info.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0) {
    return "is write-protected; it is left as it is";
  }
  return OutputFolderProblem(target);
}

OutputFile::~OutputFile() { Abandon(); }

bool OutputFile::Create(const std::string& target, std::string& error) {
  Abandon();
  m_target = target;
  struct stat info;
  m_keepMode = stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  m_mode = info.st_mode & 07777;
  const std::string folder = ParentFolder(target);
  const char* forceNamed = getenv("VORLIN_CLI_NAMED_TEMP");  // exercises the fallback in tests
  if (!(forceNamed && *forceNamed == '1')) {
    m_fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (m_fd >= 0) {
      m_writePath = "/proc/self/fd/" + std::to_string(m_fd);
      if (access(m_writePath.c_str(), W_OK) == 0) {
        m_unnamed = true;
        return true;
      }
      close(m_fd);  // no /proc: the library could not reach the file
      m_fd = -1;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      error = "cannot create a file in " + Quote(folder) + " (" + strerror(errno) + ")";
      return false;
    }
  }
  for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
    std::string name = HiddenSibling(target);
    SignalBlock block;
    m_fd = open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
    if (m_fd >= 0) {
      m_hiddenName = name;
      m_slot = RegisterDoomedPath(name.c_str());
    } else if (errno != EEXIST) {
      error = "cannot create a file in " + Quote(folder) + " (" + strerror(errno) + ")";
      return false;
    }
  }
  if (m_fd < 0) {
    error = "cannot create a temporary name in " + Quote(folder);
    return false;
  }
  m_writePath = m_hiddenName;
  return true;
}

bool OutputFile::Commit(std::string& error) {
  if (m_fd < 0) {
    error = "no file to commit";
    return false;
  }
  if (m_keepMode) fchmod(m_fd, m_mode);
  bool ok = false;
  int savedErrno = 0;
  if (m_unnamed) {
    // Straight to the final name when it is free: no moment with a second name.
    ok = linkat(AT_FDCWD, m_writePath.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) == 0;
    savedErrno = errno;
    if (!ok && errno == EEXIST) {
      for (int attempt = 0; attempt < 100 && m_hiddenName.empty(); ++attempt) {
        std::string name = HiddenSibling(m_target);
        SignalBlock block;
        if (linkat(AT_FDCWD, m_writePath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
          m_hiddenName = name;
          m_slot = RegisterDoomedPath(name.c_str());
        } else if (errno != EEXIST) {
          break;
        }
      }
      savedErrno = errno;
    }
  }
  if (!ok && !m_hiddenName.empty()) {
    SignalBlock block;
    ok = rename(m_hiddenName.c_str(), m_target.c_str()) == 0;
    savedErrno = errno;
    if (ok) {
      UnregisterDoomedPath(m_slot);
      m_slot = -1;
      m_hiddenName.clear();
    }
  }
  if (!ok) {
    error = "cannot give it its name (" + std::string(strerror(savedErrno ? savedErrno : EIO)) + ")";
    Abandon();
    return false;
  }
  close(m_fd);
  m_fd = -1;
  m_writePath.clear();
  return true;
}

void OutputFile::Abandon() {
  SignalBlock block;
  if (!m_hiddenName.empty()) {
    unlink(m_hiddenName.c_str());
    m_hiddenName.clear();
  }
  UnregisterDoomedPath(m_slot);
  m_slot = -1;
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
  m_writePath.clear();
  m_unnamed = false;
}

}  // namespace cli
}  // namespace vorlin

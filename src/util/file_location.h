#ifndef VORLIN_UTIL_FILE_LOCATION_H
#define VORLIN_UTIL_FILE_LOCATION_H

#include <functional>
#include <string>
#include <vector>

#include "platform/file.h"

namespace vorlin {

// Where the location test gets its facts from; the exported functions use
// the system's, tests substitute their own.
struct FileLocator {
  // Device path of an open file; false when it has none.
  std::function<bool(const platform::File& file, const wchar_t* name, std::wstring* devicePath)>
      devicePath;
  // This machine's host name, empty when unknown.
  std::function<std::string()> hostName;
  // The IPv4 addresses of a host name in dotted form.
  std::function<std::vector<std::string>(const std::string& hostName)> hostAddresses;
};

FileLocator SystemFileLocator();

// True when devicePath names storage of this machine: a local disk volume,
// a share of localhost or 127.0.0.1, or a share whose server part begins
// with this machine's host name or one of its addresses. Letter case is
// ignored and only the beginning of the path is compared. An empty host name
// skips the host name and address checks.
bool IsDevicePathOnThisMachine(const std::wstring& devicePath, const std::string& hostName,
                               const std::vector<std::string>& addresses);

// The file-level test: false for a null or empty name, a file that cannot
// be opened for reading, an empty file, or one without a device path.
bool IsFileOnThisMachine(const wchar_t* fileName, const FileLocator& locator);

// Copies source over target unless source is on this machine.
bool CopyFileIfRemote(const wchar_t* source, const wchar_t* target, const FileLocator& locator);

// Hash of the name's UTF-16 code units (low 31 bits), the stem of the local
// file name.
unsigned LocalNameHash(const wchar_t* fileName);

}  // namespace vorlin

#endif

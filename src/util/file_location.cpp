#include "util/file_location.h"

#include <stdint.h>
#include <wchar.h>

#include "platform/device_path.h"
#include "platform/host_info.h"
#include "platform/wide_string.h"
#include "vorlin/util.h"

namespace vorlin {
namespace {

const wchar_t kShareRoot[] = L"\\Device\\MUP\\";

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() &&
         platform::EqualsNoCase(text.c_str(), prefix.c_str(), prefix.size());
}

}  // namespace

FileLocator SystemFileLocator() {
  FileLocator locator;
  locator.devicePath = platform::DevicePathOfFile;
  locator.hostName = platform::HostName;
  locator.hostAddresses = platform::HostAddressesIPv4;
  return locator;
}

bool IsDevicePathOnThisMachine(const std::wstring& devicePath, const std::string& hostName,
                               const std::vector<std::string>& addresses) {
  static const wchar_t* const kFixedPrefixes[] = {
      L"\\Device\\Harddisk",
      L"\\Device\\MUP\\Localhost",
      L"\\Device\\MUP\\127.0.0.1",
  };
  for (const wchar_t* prefix : kFixedPrefixes) {
    if (StartsWithNoCase(devicePath, prefix)) return true;
  }
  // Without a host name "\Device\MUP\" alone would claim every share.
  if (hostName.empty()) return false;
  if (StartsWithNoCase(devicePath, kShareRoot + platform::FromUtf8(hostName))) return true;
  for (const std::string& address : addresses) {
    if (!address.empty() &&
        StartsWithNoCase(devicePath, kShareRoot + platform::FromUtf8(address)))
      return true;
  }
  return false;
}

bool IsFileOnThisMachine(const wchar_t* fileName, const FileLocator& locator) {
  if (fileName == nullptr || fileName[0] == L'\0') return false;
  platform::File file = platform::File::Open(fileName, platform::kAccessRead,
                                             platform::kShareRead,
                                             platform::Disposition::kOpenExisting);
  if (!file.IsValid()) return false;
  // An empty file has nothing that could be mapped, so it has no device
  // path either.
  if (file.Size() <= 0) return false;
  std::wstring devicePath;
  if (!locator.devicePath || !locator.devicePath(file, fileName, &devicePath)) return false;
  (void)file.Close();  // read only: nothing to lose

  if (IsDevicePathOnThisMachine(devicePath, std::string(), {})) return true;
  // Name resolution is slow; only a share path can match this machine's
  // name or addresses.
  if (!StartsWithNoCase(devicePath, kShareRoot) || !locator.hostName) return false;
  std::string hostName = locator.hostName();
  if (hostName.empty()) return false;
  if (IsDevicePathOnThisMachine(devicePath, hostName, {})) return true;
  if (!locator.hostAddresses) return false;
  return IsDevicePathOnThisMachine(devicePath, hostName, locator.hostAddresses(hostName));
}

bool CopyFileIfRemote(const wchar_t* source, const wchar_t* target, const FileLocator& locator) {
  if (IsFileOnThisMachine(source, locator)) return false;
  if (source == nullptr || target == nullptr) return false;
  return platform::CopyFileTo(source, target, false);
}

unsigned LocalNameHash(const wchar_t* fileName) {
  uint32_t h = 0;
  uint32_t a = 63689;
  for (char16_t unit : platform::ToUtf16(fileName)) {
    h = h * a + unit;
    a = a * 378551u;
  }
  return h & 0x7FFFFFFFu;
}

}  // namespace vorlin

namespace Zelvane {
namespace Vorlin {
namespace QvVorlinUtil {

bool IsFileNeedCache(const wchar_t* fileName) {
  return vorlin::IsFileOnThisMachine(fileName, vorlin::SystemFileLocator());
}

bool CopyPointCloudFile(const wchar_t* source, const wchar_t* target) {
  return vorlin::CopyFileIfRemote(source, target, vorlin::SystemFileLocator());
}

wchar_t* ExtractLocalFileName(const wchar_t* fileName) {
  // A null name is not a valid argument; answer null rather than crash.
  if (fileName == nullptr) return nullptr;
  const size_t kLength = 261;
  wchar_t stem[kLength];
  if (swprintf(stem, kLength, L"%u.", vorlin::LocalNameHash(fileName)) < 0) return nullptr;
  wchar_t* name = new wchar_t[kLength];
  wcscpy(name, stem);
  wcscat(name, L"qzv");
  return name;
}

}  // namespace QvVorlinUtil
}  // namespace Vorlin
}  // namespace Zelvane

// The mount-table parsing behind device paths, with the input as the text of
// /proc/self/mountinfo, and the this-machine test on what comes out of it
// and on the input itself.
#include <stdio.h>
#include <stdlib.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/device_path.h"
#include "platform/wide_string.h"
#include "util/file_location.h"

namespace {

namespace platform = vorlin::platform;

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

void CheckOnThisMachine(const std::wstring& devicePath) {
  static const std::vector<std::string> addresses = {"192.0.2.7", "10.1.2.3"};
  vorlin::IsDevicePathOnThisMachine(devicePath, "buildhost", addresses);
  vorlin::IsDevicePathOnThisMachine(devicePath, "", {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  struct Probe {
    platform::DeviceNumber device;
    const char* path;
  };
  // Devices of the seed tables, and one that no table carries.
  static const Probe probes[] = {
      {{8, 2}, "/etc/hosts"},       {{8, 3}, "/srv/data/x/y.qzv"}, {{0, 45}, "/mnt/nas/f"},
      {{0, 51}, "/mnt/back/f"},     {{0, 47}, "/mnt/ssh/p/f"},     {{259, 2}, "/"},
      {{4095, 9}, "/mnt/ceph/a b"},
  };
  for (const Probe& probe : probes) {
    std::wstring devicePath;
    if (platform::DevicePathFromMountInfo(text, probe.device, probe.path, &devicePath)) {
      if (!StartsWith(devicePath, L"\\Device\\MUP\\") &&
          !StartsWith(devicePath, L"\\Device\\HarddiskVolume")) {
        fprintf(stderr, "device path of unknown form\n");
        abort();
      }
      CheckOnThisMachine(devicePath);
    }
  }
  CheckOnThisMachine(platform::FromUtf8(text));
  return 0;
}

#ifndef VORLIN_PLATFORM_SHARE_REGISTRY_H
#define VORLIN_PLATFORM_SHARE_REGISTRY_H

#include <stdint.h>

namespace vorlin {
namespace platform {

// Process-wide table of open handles by file identity (device and inode), so
// that share modes are enforced between handles of this process as the
// original platform enforces them between all handles.
struct FileIdentity {
  uint64_t device;
  uint64_t inode;
};

// Access bit used when asking whether a file may be deleted.
constexpr unsigned kAccessDeleteBit = 4;

// Registers a handle with its access and share mode; 0 when an open handle
// forbids it (then nothing is registered). Otherwise a registration id.
uint64_t RegisterOpen(const FileIdentity& id, unsigned access, unsigned share);
// True when a handle with this access and share mode could be registered now.
bool CanOpen(const FileIdentity& id, unsigned access, unsigned share);
void UnregisterOpen(uint64_t registrationId);

}  // namespace platform
}  // namespace vorlin

#endif

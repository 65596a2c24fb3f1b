#include "platform/share_registry.h"

#include <map>
#include <mutex>

#include "platform/file.h"

namespace vorlin {
namespace platform {
namespace {

struct Registration {
  FileIdentity id;
  unsigned access;
  unsigned share;
};

struct Registry {
  std::mutex mutex;
  std::map<uint64_t, Registration> open;
  uint64_t nextId = 1;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // lives until process exit
  return *registry;
}

// Two handles are compatible when each one's access is shared by the other.
bool Compatible(const Registration& existing, unsigned access, unsigned share) {
  if ((access & kAccessRead) && !(existing.share & kShareRead)) return false;
  if ((access & kAccessWrite) && !(existing.share & kShareWrite)) return false;
  if ((access & kAccessDeleteBit) && !(existing.share & kShareDelete)) return false;
  if ((existing.access & kAccessRead) && !(share & kShareRead)) return false;
  if ((existing.access & kAccessWrite) && !(share & kShareWrite)) return false;
  return true;
}

bool CanOpenLocked(Registry& r, const FileIdentity& id, unsigned access, unsigned share) {
  for (const auto& entry : r.open) {
    const Registration& reg = entry.second;
    if (reg.id.device == id.device && reg.id.inode == id.inode &&
        !Compatible(reg, access, share)) {
      return false;
    }
  }
  return true;
}

}  // namespace

uint64_t RegisterOpen(const FileIdentity& id, unsigned access, unsigned share) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!CanOpenLocked(r, id, access, share)) return 0;
  uint64_t regId = r.nextId++;
  r.open[regId] = Registration{id, access, share};
  return regId;
}

bool CanOpen(const FileIdentity& id, unsigned access, unsigned share) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return CanOpenLocked(r, id, access, share);
}

void UnregisterOpen(uint64_t registrationId) {
  if (registrationId == 0) return;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.open.erase(registrationId);
}

}  // namespace platform
}  // namespace vorlin

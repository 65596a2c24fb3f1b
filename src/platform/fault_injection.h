#ifndef VORLIN_PLATFORM_FAULT_INJECTION_H
#define VORLIN_PLATFORM_FAULT_INJECTION_H

#include <stdint.h>

namespace vorlin {
namespace platform {

// Test hook: makes the Nth file call of chosen kinds fail, so that tests can
// sweep every failure point of an import, a save or a query. Disarmed, it
// costs one relaxed atomic load per call.
enum FaultSite : unsigned {
  kFaultOpen = 1,      // File::Open (open and create)
  kFaultRead = 2,      // every read
  kFaultWrite = 4,     // every write
  kFaultSeek = 8,      // Seek and SeekRelative
  kFaultTempFile = 16  // CreateTemporaryFile
};

// From now on, calls at the given sites are counted; the nth (1-based) fails.
// With shortTransfer, a read or write at that call moves only half of its
// bytes instead of failing outright.
void ArmFault(unsigned sites, uint64_t n, bool shortTransfer = false);
void DisarmFault();
// Calls counted since ArmFault, and whether the failure has happened.
uint64_t FaultCallsSeen();
bool FaultTriggered();

namespace detail {
// True when this call is the one that must fail; shortTransfer tells how.
bool FaultHere(FaultSite site, bool* shortTransfer);
}  // namespace detail

}  // namespace platform
}  // namespace vorlin

#endif

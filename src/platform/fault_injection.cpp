#include "platform/fault_injection.h"

#include <atomic>

namespace vorlin {
namespace platform {
namespace {

std::atomic<unsigned> g_sites{0};
std::atomic<uint64_t> g_target{0};
std::atomic<uint64_t> g_seen{0};
std::atomic<bool> g_short{false};
std::atomic<bool> g_triggered{false};

}  // namespace

void ArmFault(unsigned sites, uint64_t n, bool shortTransfer) {
  g_sites.store(0);
  g_seen.store(0);
  g_triggered.store(false);
  g_short.store(shortTransfer);
  g_target.store(n);
  g_sites.store(n ? sites : 0);
}

void DisarmFault() { g_sites.store(0); }

uint64_t FaultCallsSeen() { return g_seen.load(); }

bool FaultTriggered() { return g_triggered.load(); }

namespace detail {

bool FaultHere(FaultSite site, bool* shortTransfer) {
  if (!(g_sites.load(std::memory_order_relaxed) & site)) return false;
  uint64_t call = g_seen.fetch_add(1) + 1;
  if (call != g_target.load()) return false;
  g_triggered.store(true);
  if (shortTransfer) *shortTransfer = g_short.load();
  return true;
}

}  // namespace detail
}  // namespace platform
}  // namespace vorlin

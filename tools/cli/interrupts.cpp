#include "interrupts.h"

#include <limits.h>
#include <string.h>
#include <unistd.h>

namespace vorlin {
namespace cli {

namespace {

constexpr int kSlots = 4;
char g_paths[kSlots][PATH_MAX];
volatile sig_atomic_t g_used[kSlots];
volatile sig_atomic_t g_cooperative = 0;
volatile sig_atomic_t g_stopSignal = 0;
const int kSignals[] = {SIGINT, SIGHUP, SIGPIPE, SIGTERM};

extern "C" void OnSignal(int signal) {
  if (g_cooperative && g_stopSignal == 0 && signal != SIGTERM) {
    g_stopSignal = signal;
    return;
  }
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i]) unlink(g_paths[i]);
  }
  _exit(128 + signal);
}

}  // namespace

void InstallSignalHandlers() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kSignals) sigaction(signal, &action, nullptr);
}

CooperativeStop::CooperativeStop() { g_cooperative = 1; }

CooperativeStop::~CooperativeStop() { g_cooperative = 0; }

int StopSignal() { return g_stopSignal; }

int StopExitCode() { return 128 + (g_stopSignal ? int(g_stopSignal) : SIGINT); }

int RegisterDoomedPath(const char* path) {
  if (strlen(path) >= PATH_MAX) return -1;
  SignalBlock block;
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i]) continue;
    memcpy(g_paths[i], path, strlen(path) + 1);
    g_used[i] = 1;
    return i;
  }
  return -1;
}

void UnregisterDoomedPath(int slot) {
  if (slot >= 0 && slot < kSlots) g_used[slot] = 0;
}

SignalBlock::SignalBlock() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kSignals) sigaddset(&set, signal);
  sigprocmask(SIG_BLOCK, &set, &m_previous);
}

SignalBlock::~SignalBlock() { sigprocmask(SIG_SETMASK, &m_previous, nullptr); }

}  // namespace cli
}  // namespace vorlin

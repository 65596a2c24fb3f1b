#ifndef VORLIN_CLI_INTERRUPTS_H
#define VORLIN_CLI_INTERRUPTS_H

// How the command ends on SIGINT, SIGHUP, SIGPIPE and SIGTERM. Work that can
// stop cleanly (an import, a query's fetch loop) opens a CooperativeStop:
// while it is alive the first SIGINT, SIGHUP or SIGPIPE only asks the work
// to stop. Any other signal of these, a second one, or SIGTERM ends the
// process at once with status 128 + signal, after removing every file name
// registered below. Unnamed output files need no registration: they vanish
// with the process.

#include <signal.h>

namespace vorlin {
namespace cli {

// Called once at start-up.
void InstallSignalHandlers();

class CooperativeStop {
 public:
  CooperativeStop();
  ~CooperativeStop();
  CooperativeStop(const CooperativeStop&) = delete;
  CooperativeStop& operator=(const CooperativeStop&) = delete;
};

// 0, or the signal that asked the work to stop.
int StopSignal();
// The exit status for a stop requested by StopSignal() (130 for SIGINT).
int StopExitCode();

// A path the handler unlinks before ending the process; -1 when the table is
// full (it holds a few entries: one per output being written). Register a
// name only once this process has created it.
int RegisterDoomedPath(const char* path);
void UnregisterDoomedPath(int slot);

// Holds back the four signals while alive, so that creating or renaming a
// file and recording that fact happen together.
class SignalBlock {
 public:
  SignalBlock();
  ~SignalBlock();
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t m_previous;
};

}  // namespace cli
}  // namespace vorlin

#endif

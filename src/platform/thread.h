#ifndef VORLIN_PLATFORM_THREAD_H
#define VORLIN_PLATFORM_THREAD_H

#include <functional>
#include <memory>

namespace vorlin {
namespace platform {

// A critical section: a recursive lock.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// A plain lock with one condition to wait on. Wait must be called between
// Enter and Leave; it releases the lock while waiting, may return
// spuriously, and holds the lock again when it returns.
class Monitor {
 public:
  Monitor();
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;
  void Enter();
  void Leave();
  void Wait();
  void NotifyAll();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// One thread running a function from Start until it returns.
class Thread {
 public:
  Thread();
  ~Thread();  // joins a thread still running
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  bool Start(std::function<void()> body);
  void Join();  // waits without a time limit; no-op when not started
  bool IsStarted() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
}  // namespace vorlin

#endif

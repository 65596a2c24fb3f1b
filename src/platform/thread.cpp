#include "platform/thread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vorlin {
namespace platform {

struct CriticalSection::Impl {
  std::recursive_mutex mutex;
};

CriticalSection::CriticalSection() : m_impl(new Impl) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() { m_impl->mutex.lock(); }
void CriticalSection::Leave() { m_impl->mutex.unlock(); }

struct Monitor::Impl {
  std::mutex mutex;
  std::condition_variable condition;
};

Monitor::Monitor() : m_impl(new Impl) {}
Monitor::~Monitor() = default;
void Monitor::Enter() { m_impl->mutex.lock(); }
void Monitor::Leave() { m_impl->mutex.unlock(); }
void Monitor::Wait() {
  std::unique_lock<std::mutex> held(m_impl->mutex, std::adopt_lock);
  m_impl->condition.wait(held);
  held.release();
}
void Monitor::NotifyAll() { m_impl->condition.notify_all(); }

struct Thread::Impl {
  std::thread thread;
};

Thread::Thread() : m_impl(new Impl) {}

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
  if (m_impl->thread.joinable()) return false;
  try {
    m_impl->thread = std::thread(std::move(body));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void Thread::Join() {
  if (m_impl->thread.joinable()) m_impl->thread.join();
}

bool Thread::IsStarted() const { return m_impl->thread.joinable(); }

}  // namespace platform
}  // namespace vorlin

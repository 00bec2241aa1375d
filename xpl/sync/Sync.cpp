#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "QmXpl/Message_t.h"
#include "QmXpl/Mutex_t.h"
#include "QmXpl/RwLock_t.h"
#include "QmXpl/Semaphore_t.h"
#include "QmXpl/SyncObj_t.h"
#include "QmXpl/Thread_t.h"
#include "QmXpl/TraceObj_t.h"

namespace QmXplSync {

SyncObj_t::~SyncObj_t() = default;
Mutex_t::~Mutex_t() = default;
RwLock_t::~RwLock_t() = default;
Semaphore_t::~Semaphore_t() = default;

void Semaphore_t::Wait() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return count_ > 0; });
    --count_;
}

bool Semaphore_t::Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                      [this] { return count_ > 0; })) {
        return false;
    }
    --count_;
    return true;
}

bool Semaphore_t::TryWait() {
    std::lock_guard<std::mutex> lock(m_);
    if (count_ == 0) return false;
    --count_;
    return true;
}

void Semaphore_t::Post() {
    {
        std::lock_guard<std::mutex> lock(m_);
        ++count_;
    }
    cv_.notify_one();
}

int Semaphore_t::GetCount() const {
    std::lock_guard<std::mutex> lock(m_);
    return count_;
}

}  // namespace QmXplSync

namespace QmXplThread {

namespace {
QmXplTrc::TraceWrapper_t threadTrace("qmxpl.thread", 7);
}

Thread_t::Thread_t(std::function<void()> work)
    : t_([work = std::move(work)] {
          try {
              work();
          } catch (const std::exception& e) {
              QmXplTrc::TraceObj_t& t = threadTrace;
              if (t.IsOn(2)) {
                  std::string text = std::string("Thread ended by exception: ") + e.what();
                  t.DoTrace(2, text.c_str(), __FILE__, __LINE__);
              }
          } catch (...) {
              threadTrace.Get().Trace(2, "Thread ended by unknown exception", __FILE__, __LINE__);
          }
      }) {}

Thread_t::~Thread_t() {
    if (t_.joinable()) t_.join();
}

Thread_t& Thread_t::operator=(Thread_t&& other) noexcept {
    if (this != &other) {
        if (t_.joinable()) t_.join();
        t_ = std::move(other.t_);
    }
    return *this;
}

void Thread_t::Join() {
    if (t_.joinable()) t_.join();
}

unsigned long Thread_t::CurrentID() noexcept {
    // Not cached per thread: a forked child must see its own id.
    return static_cast<unsigned long>(syscall(SYS_gettid));
}

void Thread_t::Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds));
}

}  // namespace QmXplThread

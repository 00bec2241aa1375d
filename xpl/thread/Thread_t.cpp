#include "QmXpl/Thread_t.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <string>

#include "QmXpl/TraceObj_t.h"

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

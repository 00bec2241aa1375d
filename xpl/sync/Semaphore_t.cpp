#include "QmXpl/Semaphore_t.h"

#include <chrono>

namespace QmXplSync {

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

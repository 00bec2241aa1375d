#include "config/ConfigDelivery.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>
#include <utility>

#include "config/ConfigTrace.h"

namespace QmXplConfig::detail {

namespace {

bool IsRegistered(const std::vector<NamespaceState_t::Registration>& list,
                  const ConfigChangeHandler_i* handler) {
    return std::any_of(list.begin(), list.end(), [&](const NamespaceState_t::Registration& r) {
        return r.handler == handler;
    });
}

}  // namespace

void ConfigDelivery::Register(NamespaceState_t* state, ConfigChangeHandler_i* handler) {
    if (!handler)
        QmXplMsg::detail::ThrowArgument("A null configuration change handler",
                                        QMXPL_CONFIG_THROW_TRACE);
    std::lock_guard<std::mutex> lock(monitor_.mutex);
    // A change already seen but not yet delivered predates the registration: not for it.
    if (!IsRegistered(state->handlers, handler))
        state->handlers.push_back({handler, nextSequence_});
}

void ConfigDelivery::Unregister(NamespaceState_t* state, ConfigChangeHandler_i* handler) {
    std::unique_lock<std::mutex> lock(monitor_.mutex);
    auto& list = state->handlers;
    list.erase(std::remove_if(
                   list.begin(), list.end(),
                   [&](const NamespaceState_t::Registration& r) { return r.handler == handler; }),
               list.end());
    // On the service thread the callback that runs is the caller itself (or another handler's):
    // waiting would never end.
    if (monitor_.threadStarted.load() && std::this_thread::get_id() != monitor_.threadId)
        monitor_.cv.wait(lock, [&] { return running_ != handler; });
}

void ConfigDelivery::Queue(std::vector<Pending> changes) {
    if (changes.empty()) return;
    {
        std::lock_guard<std::mutex> lock(monitor_.mutex);
        for (Pending& p : changes) {
            p.sequence = nextSequence_++;
            queue_.push_back(std::move(p));
        }
    }
    monitor_.Wake();
}

void ConfigDelivery::Deliver() {
    std::unique_lock<std::mutex> lock(monitor_.mutex);
    while (!queue_.empty() && !monitor_.stopping) {
        Pending pending = std::move(queue_.front());
        queue_.pop_front();
        const std::vector<NamespaceState_t::Registration> handlers = pending.state->handlers;
        for (const NamespaceState_t::Registration& registration : handlers) {
            if (monitor_.stopping) break;
            ConfigChangeHandler_i* handler = registration.handler;
            // Unregistered by an earlier callback of this round: not called any more.
            if (registration.firstChange > pending.sequence ||
                !IsRegistered(pending.state->handlers, handler))
                continue;
            running_ = handler;
            lock.unlock();
            try {
                handler->Update(pending.changes);
            } catch (const std::exception& e) {
                QMXPL_CONFIG_TRACE(kTraceProblem, "A change handler of namespace '" +
                                                      pending.state->nameUtf8 +
                                                      "' failed: " + e.what());
            } catch (...) {
                QMXPL_CONFIG_TRACE(kTraceProblem, "A change handler of namespace '" +
                                                      pending.state->nameUtf8 +
                                                      "' failed with an unknown exception");
            }
            lock.lock();
            running_ = nullptr;
            monitor_.cv.notify_all();
        }
    }
    monitor_.cv.notify_all();
}

bool ConfigDelivery::WaitUntilIdle(int timeoutMs) {
    std::unique_lock<std::mutex> lock(monitor_.mutex);
    return monitor_.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return (queue_.empty() && running_ == nullptr) || monitor_.threadDone ||
               !monitor_.threadStarted.load();
    });
}

}  // namespace QmXplConfig::detail

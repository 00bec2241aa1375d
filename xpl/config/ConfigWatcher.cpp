#include "config/ConfigWatcher.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "config/ConfigTrace.h"

namespace QmXplConfig::detail {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(1000);
constexpr auto kShutdownWait = std::chrono::seconds(2);
constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                IN_CREATE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

void ConfigWatcher::EnsureThread(void (*atExit)()) {
    if (monitor_.threadStarted.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(monitor_.mutex);
    if (monitor_.threadStarted.load() || monitor_.threadFailed || monitor_.stopping) return;
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        monitor_.threadFailed = true;
        QMXPL_CONFIG_TRACE(kTraceProblem,
                           std::string("Configuration changes will not be watched: eventfd: ") +
                               std::strerror(errno));
        return;
    }
    monitor_.wakeFd.store(fd);
    // The thread takes no signals meant for the program's own threads.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        monitor_.threadFailed = true;
        QMXPL_CONFIG_TRACE(kTraceProblem,
                           std::string("Configuration changes will not be watched: ") + e.what());
        return;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_setname_np(thread_.native_handle(), "qmxpl-config");
    monitor_.threadId = thread_.get_id();
    ownerPid_.store(getpid());
    monitor_.threadStarted.store(true, std::memory_order_release);
    std::atexit(atExit);
}

void ConfigWatcher::ResetWatches() {
    watchesReset_.store(true);
    monitor_.Wake();
}

void ConfigWatcher::Shutdown() {
    // In a child made by fork the thread does not exist, and the locks may be held by it for ever.
    if (monitor_.threadStarted.load() && ownerPid_.load() != getpid()) return;
    std::unique_lock<std::mutex> lock(monitor_.mutex);
    monitor_.stopping = true;
    if (!monitor_.threadStarted.load() || !thread_.joinable()) return;
    if (std::this_thread::get_id() == monitor_.threadId)
        return;  // exit() called by a handler: the thread is ending the process itself
    monitor_.Wake();
    if (monitor_.cv.wait_for(lock, kShutdownWait, [&] { return monitor_.threadDone; })) {
        thread_.join();
    } else {
        QMXPL_CONFIG_TRACE(kTraceProblem,
                           "A configuration change handler did not return; leaving it running");
        thread_.detach();
    }
}

void ConfigWatcher::DropWatches(int ifd) {
    for (const auto& [wd, watch] : watches_) inotify_rm_watch(ifd, wd);
    watches_.clear();
    watchByDir_.clear();
}

void ConfigWatcher::SyncWatches(int ifd) {
    for (const auto& [dir, group] : cache_.Directories()) {
        const Watch w{dir, group};
        if (watchByDir_.count(w.dir)) continue;
        int wd = inotify_add_watch(ifd, w.dir.c_str(), kWatchMask);
        if (wd < 0) {
            // A missing directory is found by the periodic check once it appears.
            if (errno != ENOENT && errno != ENOTDIR) {
                QMXPL_CONFIG_TRACE(kTraceActivity,
                                   "Cannot watch '" + w.dir +
                                       "', checking it every second: " + std::strerror(errno));
            }
            continue;
        }
        watches_[wd] = w;
        watchByDir_[w.dir] = wd;
    }
}

void ConfigWatcher::ReadEvents(int ifd, std::set<std::string>& dirty, bool& pollAll,
                               bool& watchesDirty) {
    alignas(struct inotify_event) char buf[8192];
    for (;;) {
        ssize_t n = read(ifd, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;  // EAGAIN: all read
        }
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + off);
            off += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                pollAll = true;
                continue;
            }
            auto it = watches_.find(ev->wd);
            if (it == watches_.end()) continue;
            if (ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The directory is gone or elsewhere: watch it again where it should be.
                if (!(ev->mask & IN_IGNORED)) inotify_rm_watch(ifd, ev->wd);
                watchByDir_.erase(it->second.dir);
                watches_.erase(it);
                pollAll = true;
                watchesDirty = true;
                continue;
            }
            if (ev->mask & IN_ISDIR) {
                // A group directory may have appeared (with its file, when moved in).
                pollAll = true;
                watchesDirty = true;
                continue;
            }
            // Only a finished write or a rename counts: a file being written in place is read
            // when it is closed.
            if (ev->len > 0 && std::strcmp(ev->name, kConfigFileName) == 0 &&
                (ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE))) {
                dirty.insert(it->second.group);
            }
        }
    }
}

void ConfigWatcher::Run() {
    int ifd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (ifd < 0) {
        QMXPL_CONFIG_TRACE(kTraceProblem,
                           std::string("inotify unavailable, checking configuration files every "
                                       "second: ") +
                               std::strerror(errno));
    }
    const int wakeFd = monitor_.wakeFd.load();
    auto nextPoll = std::chrono::steady_clock::now() + kPollInterval;
    bool watchesDirty = true;
    for (;;) {
        if (ifd >= 0) {
            if (watchesReset_.exchange(false)) {
                DropWatches(ifd);
                watchesDirty = true;
            }
            if (watchesDirty) {
                SyncWatches(ifd);
                watchesDirty = false;
            }
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            nextPoll - std::chrono::steady_clock::now());
        int timeoutMs = static_cast<int>(std::clamp<long long>(wait.count(), 0, 1000));
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {ifd, POLLIN, 0}};
        int ready = poll(fds, ifd >= 0 ? 2 : 1, timeoutMs);
        {
            std::lock_guard<std::mutex> lock(monitor_.mutex);
            if (monitor_.stopping) break;
        }
        if (ready < 0 && errno != EINTR) {
            QMXPL_CONFIG_TRACE(kTraceProblem, std::string("poll: ") + std::strerror(errno));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        uint64_t count;
        while (read(wakeFd, &count, sizeof count) > 0) {
        }
        std::set<std::string> dirty;
        bool pollAll = false;
        if (ifd >= 0 && ready > 0 && (fds[1].revents & POLLIN))
            ReadEvents(ifd, dirty, pollAll, watchesDirty);
        auto now = std::chrono::steady_clock::now();
        if (now >= nextPoll) {
            pollAll = true;
            watchesDirty = true;  // retry directories that could not be watched yet
            nextPoll = now + kPollInterval;
        }
        if (!dirty.empty() || pollAll) cache_.Refresh(dirty, pollAll);
        delivery_.Deliver();
    }
    if (ifd >= 0) close(ifd);
    std::lock_guard<std::mutex> lock(monitor_.mutex);
    monitor_.threadDone = true;
    monitor_.cv.notify_all();
}

}  // namespace QmXplConfig::detail

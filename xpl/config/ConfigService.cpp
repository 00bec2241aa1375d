#include "config/ConfigService.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"
#include "config/ConfigData.h"
#include "config/ConfigFile.h"
#include "config/ConfigTrace.h"
#include "io/AtomicFile.h"
#include "runtime/Home.h"

namespace QmXplConfig {

namespace detail {

QmXplTrc::TraceObj_t& ConfigTrace() {
    // A function-local object, so that a namespace opened during another library's static
    // initialisation can already trace.
    static QmXplTrc::TraceWrapper_t trace("qmxpl.config", 8);
    return trace;
}

}  // namespace detail

namespace {

using detail::kTraceActivity;
using detail::kTraceProblem;
using QmXplIo::IOException_t;
using QmXplMsg::CreateError_t;
using QmXplMsg::CreateSystemError_t;
using QmXplMsg::IllegalArgumentError_t;

constexpr const char* kFileName = "config.ini";
constexpr const char* kLockFileName = ".config.ini.lock";
// Configuration files are small; a huge one is a mistake or an attack, and is not read.
constexpr off_t kMaxFileSize = 4 * 1024 * 1024;
constexpr auto kPollInterval = std::chrono::milliseconds(1000);
constexpr auto kShutdownWait = std::chrono::seconds(2);
constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                IN_CREATE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// What identifies one state of a file: a change in place alters size or times, a replacement
// by rename alters the inode.
struct FileSig {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    long long ctimeNs = 0;

    bool operator==(const FileSig&) const = default;
};

FileSig SigOf(const struct stat& st) {
    FileSig sig;
    sig.exists = true;
    sig.dev = st.st_dev;
    sig.ino = st.st_ino;
    sig.size = st.st_size;
    sig.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    sig.ctimeNs = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    return sig;
}

FileSig StatSig(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? SigOf(st) : FileSig();
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Reads a whole configuration file. Returns 0, or the errno value of the failure: EFBIG for a
// file over the size limit, EINVAL for something that is not a regular file (a FIFO would block a
// reader for ever, so the file is opened without blocking and checked first).
int ReadFileText(const std::string& path, std::string& text, struct stat& st) {
    text.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return errno;
    int result = 0;
    if (fstat(fd, &st) != 0) {
        result = errno;
    } else if (!S_ISREG(st.st_mode)) {
        result = EINVAL;
    } else if (st.st_size > kMaxFileSize) {
        result = EFBIG;
    } else {
        char buf[16384];
        for (;;) {
            ssize_t n = read(fd, buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR) continue;
                result = errno;
                break;
            }
            if (n == 0) break;
            text.append(buf, static_cast<size_t>(n));
            if (text.size() > static_cast<size_t>(kMaxFileSize)) {
                result = EFBIG;  // grew while being read
                break;
            }
        }
    }
    close(fd);
    if (result != 0) text.clear();
    return result;
}

[[noreturn]] void ThrowIo(int err, const std::string& what) {
    QMXPL_CONFIG_TRACE(kTraceProblem, what + ": " + std::strerror(err));
    throw IOException_t(CreateSystemError_t(err, String_t(what)));
}

[[noreturn]] void ThrowArgument(const std::string& text) {
    QMXPL_CONFIG_TRACE(kTraceProblem, "Refused: " + text);
    throw IllegalArgumentError_t(CreateError_t(String_t(text)));
}

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\f' || c == u'\v' || c == u'\r' || c == u'\n';
}

bool HasControl(const String_t& s) {
    for (char16_t c : s.Str()) {
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

bool HasOuterBlanks(const String_t& s) {
    return !s.IsEmpty() && (IsBlank(s.GetAt(0)) || IsBlank(s.GetAt(s.GetLength() - 1)));
}

void CheckNamespaceName(const String_t& name) {
    if (name.IsEmpty()) ThrowArgument("A configuration namespace needs a name");
    if (HasControl(name) || HasOuterBlanks(name) ||
        name.FindOneOf(String_t("[]")) != String_t::npos)
        ThrowArgument("'" + name.ToUtf8() + "' is not a usable configuration namespace name");
}

// A group names a directory under conf/: it must not lead anywhere else, nor be one that holds
// something else ("sec" holds the node's secrets, and is its owner's alone).
void CheckGroupName(const String_t& group) {
    const std::string g = group.ToUtf8();
    if (HasControl(group) || HasOuterBlanks(group) || g.find('/') != std::string::npos ||
        g == "." || g == ".." || g == "sec" || group.FindOneOf(String_t("[]")) != String_t::npos) {
        ThrowArgument("'" + g + "' is not a usable resource group name");
    }
}

void CheckKey(const String_t& key) {
    if (key.IsEmpty()) ThrowArgument("A configuration key must not be empty");
    char16_t first = key.GetAt(0);
    if (HasControl(key) || HasOuterBlanks(key) || key.Find(u'=') != String_t::npos ||
        first == u'#' || first == u';' || first == u'[') {
        ThrowArgument("'" + key.ToUtf8() + "' is not a usable configuration key");
    }
}

void CheckValue(const String_t& key, const String_t& value) {
    if (value.IsNull())
        ThrowArgument("A null value for key '" + key.ToUtf8() + "'; use RemoveValue to remove it");
    if (value.FindOneOf(String_t(std::u16string(u"\r\n\0", 3))) != String_t::npos)
        ThrowArgument("The value for key '" + key.ToUtf8() + "' holds a line break");
    if (HasOuterBlanks(value))
        ThrowArgument("The value for key '" + key.ToUtf8() +
                      "' has blanks at an end, which would not read back");
}

// Creates dir and every missing directory above it, each with mode 0755 whatever the umask.
void MakeDirectories(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') continue;
        std::string prefix = dir.substr(0, pos);
        if (mkdir(prefix.c_str(), 0700) != 0) {
            if (errno != EEXIST) ThrowIo(errno, "Could not create directory '" + prefix + "'");
        } else if (chmod(prefix.c_str(), 0755) != 0) {
            ThrowIo(errno, "Could not set the permissions of directory '" + prefix + "'");
        }
    }
}

// Holds an advisory lock on a file for the life of the scope.
class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) ThrowIo(errno, "Could not open lock file '" + path + "'");
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                int err = errno;
                close(fd_);
                ThrowIo(err, "Could not lock '" + path + "'");
            }
        }
    }
    ~FileLock() { close(fd_); }  // closing releases the lock
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_ = -1;
};

struct Pending {
    NamespaceState_t* state;
    ChangedConfiguration_t changes;
    unsigned long long sequence = 0;  // numbers the changes in the order they were seen
};

bool IsRegistered(const std::vector<NamespaceState_t::Registration>& list,
                  const ConfigChangeHandler_i* handler) {
    return std::any_of(list.begin(), list.end(), [&](const NamespaceState_t::Registration& r) {
        return r.handler == handler;
    });
}

class Service {
  public:
    static Service& Get() {
        // Never destroyed: static objects of other libraries may use the service until the very
        // end of the process; the thread is stopped by the exit handler instead.
        static Service* service = new Service;
        return *service;
    }

    NamespaceState_t* GetState(const String_t& name, const String_t& group);
    void Register(NamespaceState_t* state, ConfigChangeHandler_i* handler);
    void Unregister(NamespaceState_t* state, ConfigChangeHandler_i* handler);
    void Edit(NamespaceState_t* state, const String_t& key, const String_t* value);
    void ReloadAll();
    bool WaitUntilIdle(int timeoutMs);
    void Shutdown();

  private:
    struct FileEntry {
        std::string path;
        FileSig sig;
        std::shared_ptr<const detail::ParsedConfig> data;
        // Whether data is what this path held at some time (absent counts: an empty file). A
        // file that cannot be read then keeps that, the last good state, and never becomes
        // an empty configuration.
        bool good = false;
        // Why the file could not be read while there was nothing good of it; empty otherwise.
        std::string error;
    };
    struct Watch {
        std::string dir;
        std::string group;
    };

    // --- under mutex_
    void ResolveHomeLocked();
    std::string FilePathLocked(const std::string& group) const;
    FileEntry& EnsureFileLocked(const std::string& group);
    void LoadFileLocked(FileEntry& file);
    std::shared_ptr<const ConfigData_t> BuildLocked(const NamespaceState_t& state) const;
    void RefreshStatesLocked(const std::set<std::string>* groups);
    void Refresh(const std::set<std::string>& dirty, bool pollAll);

    // --- thread
    void EnsureThread();
    void Run();
    void SyncWatches(int ifd);
    void DropWatches(int ifd);
    void ReadEvents(int ifd, std::set<std::string>& dirty, bool& pollAll, bool& watchesDirty);
    void Deliver();
    void Wake() const;
    static void AtExit();

    // Files, namespaces and the location of the files. Held while a file is read, never while a
    // handler runs. Taken before deliveryMutex_ when both are needed.
    std::mutex mutex_;
    bool homeResolved_ = false;
    std::string confDir_;
    std::map<std::string, FileEntry> files_;  // by group; "" is the default file
    // Namespaces by name and group. Added to under mutex_ and statesLock_ (write), so that a
    // lookup needs only statesLock_ (read) and never waits for a file being read.
    std::map<std::pair<std::string, std::string>, std::unique_ptr<NamespaceState_t>> states_;
    mutable std::shared_mutex statesLock_;

    // Handlers, the queue of changes to deliver and the thread's life.
    std::mutex deliveryMutex_;
    std::condition_variable deliveryCv_;
    std::deque<Pending> queue_;
    unsigned long long nextSequence_ = 0;
    ConfigChangeHandler_i* running_ = nullptr;  // the handler whose callback runs now
    bool threadFailed_ = false;
    bool stopping_ = false;
    bool threadDone_ = false;
    std::thread thread_;
    std::thread::id threadId_;
    std::atomic<bool> threadStarted_{false};
    std::atomic<pid_t> ownerPid_{0};  // the process that started the thread
    std::atomic<int> wakeFd_{-1};
    std::atomic<bool> watchesReset_{false};

    // Used by the service thread only.
    std::map<int, Watch> watches_;
    std::map<std::string, int> watchByDir_;
};

// ------------------------------------------------------------------------------------------------
// Files and snapshots

void Service::ResolveHomeLocked() {
    if (!homeResolved_) {
        confDir_ = QmXplRuntime::HomeDirectory() + "/conf";
        homeResolved_ = true;
    }
}

std::string Service::FilePathLocked(const std::string& group) const {
    return group.empty() ? confDir_ + "/" + kFileName : confDir_ + "/" + group + "/" + kFileName;
}

Service::FileEntry& Service::EnsureFileLocked(const std::string& group) {
    auto [it, inserted] = files_.try_emplace(group);
    if (inserted) {
        it->second.path = FilePathLocked(group);
        LoadFileLocked(it->second);
    }
    return it->second;
}

void Service::LoadFileLocked(FileEntry& file) {
    std::string text;
    struct stat st {};
    int err = ReadFileText(file.path, text, st);
    // Remember what the file looks like, so that the check for changes does not read an
    // unreadable file again every second.
    file.sig = err == 0 ? SigOf(st) : StatSig(file.path);
    if (err != 0 && err != ENOENT && err != ENOTDIR) {
        std::string why = "Could not read configuration file '" + file.path + "': " +
                          (err == EFBIG    ? std::string("larger than 4 MiB")
                           : err == EINVAL ? std::string("not a regular file")
                                           : std::string(std::strerror(err)));
        // A file caught while an editor rewrites it, or made unreadable by mistake, must not
        // take a running program's configuration away: the last good one stays in force.
        if (file.good) {
            QMXPL_CONFIG_TRACE(kTraceProblem, why + "; keeping the configuration read before");
            return;
        }
        QMXPL_CONFIG_TRACE(kTraceProblem, why);
        file.error = why;
        file.data = std::make_shared<const detail::ParsedConfig>();
        return;
    }
    file.good = true;
    file.error.clear();
    file.data =
        std::make_shared<const detail::ParsedConfig>(detail::ParseConfigText(text, file.path));
    QMXPL_CONFIG_TRACE(kTraceActivity, "Read configuration file '" + file.path + "' (" +
                                           std::to_string(text.size()) + " bytes)");
}

std::shared_ptr<const ConfigData_t> Service::BuildLocked(const NamespaceState_t& state) const {
    auto data = std::make_shared<ConfigData_t>();
    const detail::ConfigSection* own = nullptr;
    if (!state.groupUtf8.empty()) {
        auto it = files_.find(state.groupUtf8);
        if (it != files_.end()) {
            own = it->second.data->Find(state.nameUtf8);
            data->error = it->second.error;
        }
    }
    const detail::ConfigSection* fallback = nullptr;
    if (auto it = files_.find(std::string()); it != files_.end()) {
        fallback = it->second.data->Find(state.nameUtf8);
        if (data->error.empty()) data->error = it->second.error;
    }
    if (own) {
        for (const auto& [key, value] : own->entries) data->Add(String_t(key), String_t(value));
    }
    if (fallback) {
        for (const auto& [key, value] : fallback->entries) {
            if (!own || !own->Find(key)) data->Add(String_t(key), String_t(value));
        }
    }
    return data;
}

// Rebuilds the namespaces that read one of groups (all of them when groups is null or holds the
// default group) and queues a change for each whose keys differ.
void Service::RefreshStatesLocked(const std::set<std::string>* groups) {
    const bool all = !groups || groups->count(std::string()) > 0;
    std::vector<Pending> changes;
    for (auto& [key, state] : states_) {
        if (!all && groups->count(state->groupUtf8) == 0) continue;
        std::shared_ptr<const ConfigData_t> next = BuildLocked(*state);
        std::shared_ptr<const ConfigData_t> before = state->Replace(next);
        std::unordered_set<String_t> changed = DiffKeys(before.get(), *next);
        if (changed.empty()) continue;
        auto body = std::make_shared<ChangeData_t>();
        body->name = state->name;
        body->group = state->group;
        body->configuration = Configuration_t(next);
        body->changed = std::move(changed);
        QMXPL_CONFIG_TRACE(kTraceActivity,
                           "Namespace '" + state->nameUtf8 + "' (group '" + state->groupUtf8 +
                               "'): " + std::to_string(body->changed.size()) + " keys changed");
        changes.push_back({state.get(), ChangedConfiguration_t(std::move(body))});
    }
    if (changes.empty()) return;
    {
        std::lock_guard<std::mutex> lock(deliveryMutex_);
        for (Pending& p : changes) {
            p.sequence = nextSequence_++;
            queue_.push_back(std::move(p));
        }
    }
    Wake();
}

NamespaceState_t* Service::GetState(const String_t& name, const String_t& group) {
    CheckNamespaceName(name);
    const String_t g = group.IsNull() ? String_t("") : group;
    if (!g.IsEmpty()) CheckGroupName(g);
    std::pair<std::string, std::string> key(name.ToUtf8(), g.ToUtf8());
    NamespaceState_t* result = nullptr;
    {
        std::shared_lock<std::shared_mutex> lookup(statesLock_);
        auto it = states_.find(key);
        if (it != states_.end()) result = it->second.get();
    }
    if (!result) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = states_.find(key);  // another thread may have been first
        if (it != states_.end()) {
            result = it->second.get();
        } else {
            ResolveHomeLocked();
            EnsureFileLocked(std::string());
            if (!key.second.empty()) EnsureFileLocked(key.second);
            auto state = std::make_unique<NamespaceState_t>(name, g);
            state->Replace(BuildLocked(*state));
            result = state.get();
            std::unique_lock<std::shared_mutex> add(statesLock_);
            states_.emplace(std::move(key), std::move(state));
        }
    }
    EnsureThread();
    return result;
}

void Service::Refresh(const std::set<std::string>& dirty, bool pollAll) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::set<std::string> reloaded;
    for (auto& [group, file] : files_) {
        bool reload = dirty.count(group) > 0;
        if (!reload && pollAll) reload = !(StatSig(file.path) == file.sig);
        if (reload) {
            LoadFileLocked(file);
            reloaded.insert(group);
        }
    }
    if (!reloaded.empty()) RefreshStatesLocked(&reloaded);
}

void Service::ReloadAll() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        homeResolved_ = false;
        ResolveHomeLocked();
        for (auto& [group, file] : files_) {
            file.path = FilePathLocked(group);
            file.good = false;  // what was read before came from another home
            LoadFileLocked(file);
        }
        RefreshStatesLocked(nullptr);
    }
    watchesReset_.store(true);
    Wake();
}

// ------------------------------------------------------------------------------------------------
// Editing

void Service::Edit(NamespaceState_t* state, const String_t& key, const String_t* value) {
    CheckKey(key);
    if (value) CheckValue(key, *value);
    std::string path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        path = FilePathLocked(state->groupUtf8);
    }
    const std::string dir = DirectoryOf(path);
    MakeDirectories(dir);
    // Writers in this and other processes take turns, so that no read-modify-write loses the
    // change of another. The lock file stays: removing it would race with the next writer.
    FileLock fileLock(dir + "/" + kLockFileName);

    // An administrator's symbolic link stays a link: the file it points to is replaced.
    std::string target = path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved)) target = resolved;

    std::string text;
    struct stat st {};
    mode_t mode = 0644;
    int err = ReadFileText(target, text, st);
    if (err == 0)
        mode = st.st_mode & 07777;
    else if (err == EINVAL)
        ThrowIo(err, "Configuration file '" + target + "' is not a regular file");
    else if (err != ENOENT)
        ThrowIo(err, "Could not read configuration file '" + target + "'");

    const std::string key8 = key.ToUtf8();
    const std::string value8 = value ? value->ToUtf8() : std::string();
    bool changed = false;
    std::string edited =
        detail::EditConfigText(text, state->nameUtf8, key8, value ? &value8 : nullptr, changed);
    if (changed) {
        QmXplIo::detail::WriteFileAtomically(target, edited, mode);
        QMXPL_CONFIG_TRACE(kTraceActivity, std::string(value ? "Set" : "Removed") + " key '" +
                                               key8 + "' of namespace '" + state->nameUtf8 +
                                               "' in '" + target + "'");
    }

    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(state->groupUtf8);
    if (it != files_.end() && it->second.path == path) {
        LoadFileLocked(it->second);
        std::set<std::string> groups{state->groupUtf8};
        RefreshStatesLocked(&groups);
    }
}

// ------------------------------------------------------------------------------------------------
// Handlers and delivery

void Service::Register(NamespaceState_t* state, ConfigChangeHandler_i* handler) {
    if (!handler) ThrowArgument("A null configuration change handler");
    std::lock_guard<std::mutex> lock(deliveryMutex_);
    // A change already seen but not yet delivered predates the registration: not for it.
    if (!IsRegistered(state->handlers, handler))
        state->handlers.push_back({handler, nextSequence_});
}

void Service::Unregister(NamespaceState_t* state, ConfigChangeHandler_i* handler) {
    std::unique_lock<std::mutex> lock(deliveryMutex_);
    auto& list = state->handlers;
    list.erase(std::remove_if(
                   list.begin(), list.end(),
                   [&](const NamespaceState_t::Registration& r) { return r.handler == handler; }),
               list.end());
    // On the service thread the callback that runs is the caller itself (or another handler's):
    // waiting would never end.
    if (threadStarted_.load() && std::this_thread::get_id() != threadId_)
        deliveryCv_.wait(lock, [&] { return running_ != handler; });
}

void Service::Deliver() {
    std::unique_lock<std::mutex> lock(deliveryMutex_);
    while (!queue_.empty() && !stopping_) {
        Pending pending = std::move(queue_.front());
        queue_.pop_front();
        const std::vector<NamespaceState_t::Registration> handlers = pending.state->handlers;
        for (const NamespaceState_t::Registration& registration : handlers) {
            if (stopping_) break;
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
            deliveryCv_.notify_all();
        }
    }
    deliveryCv_.notify_all();
}

bool Service::WaitUntilIdle(int timeoutMs) {
    std::unique_lock<std::mutex> lock(deliveryMutex_);
    return deliveryCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return (queue_.empty() && running_ == nullptr) || threadDone_ || !threadStarted_.load();
    });
}

// ------------------------------------------------------------------------------------------------
// The service thread

void Service::Wake() const {
    int fd = wakeFd_.load();
    if (fd >= 0) {
        uint64_t one = 1;
        // A full counter already wakes the thread; nothing else can fail here.
        if (write(fd, &one, sizeof one) < 0 && errno != EAGAIN)
            QMXPL_CONFIG_TRACE(kTraceProblem, std::string("Could not wake the configuration "
                                                          "service: ") +
                                                  std::strerror(errno));
    }
}

void Service::EnsureThread() {
    if (threadStarted_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(deliveryMutex_);
    if (threadStarted_.load() || threadFailed_ || stopping_) return;
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        threadFailed_ = true;
        QMXPL_CONFIG_TRACE(kTraceProblem,
                           std::string("Configuration changes will not be watched: eventfd: ") +
                               std::strerror(errno));
        return;
    }
    wakeFd_.store(fd);
    // The thread takes no signals meant for the program's own threads.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        threadFailed_ = true;
        QMXPL_CONFIG_TRACE(kTraceProblem,
                           std::string("Configuration changes will not be watched: ") + e.what());
        return;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_setname_np(thread_.native_handle(), "qmxpl-config");
    threadId_ = thread_.get_id();
    ownerPid_.store(getpid());
    threadStarted_.store(true, std::memory_order_release);
    // Registered by code of this library, so it also runs when the library is unloaded.
    std::atexit(&Service::AtExit);
}

void Service::AtExit() { Get().Shutdown(); }

void Service::Shutdown() {
    // In a child made by fork the thread does not exist, and the locks may be held by it for ever.
    if (threadStarted_.load() && ownerPid_.load() != getpid()) return;
    std::unique_lock<std::mutex> lock(deliveryMutex_);
    stopping_ = true;
    if (!threadStarted_.load() || !thread_.joinable()) return;
    if (std::this_thread::get_id() == threadId_)
        return;  // exit() called by a handler: the thread is ending the process itself
    Wake();
    if (deliveryCv_.wait_for(lock, kShutdownWait, [&] { return threadDone_; })) {
        thread_.join();
    } else {
        QMXPL_CONFIG_TRACE(kTraceProblem,
                           "A configuration change handler did not return; leaving it running");
        thread_.detach();
    }
}

void Service::DropWatches(int ifd) {
    for (const auto& [wd, watch] : watches_) inotify_rm_watch(ifd, wd);
    watches_.clear();
    watchByDir_.clear();
}

void Service::SyncWatches(int ifd) {
    std::vector<Watch> wanted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [group, file] : files_) wanted.push_back({DirectoryOf(file.path), group});
    }
    for (const Watch& w : wanted) {
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

void Service::ReadEvents(int ifd, std::set<std::string>& dirty, bool& pollAll, bool& watchesDirty) {
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
            if (ev->len > 0 && std::strcmp(ev->name, kFileName) == 0 &&
                (ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE))) {
                dirty.insert(it->second.group);
            }
        }
    }
}

void Service::Run() {
    int ifd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (ifd < 0) {
        QMXPL_CONFIG_TRACE(kTraceProblem,
                           std::string("inotify unavailable, checking configuration files every "
                                       "second: ") +
                               std::strerror(errno));
    }
    const int wakeFd = wakeFd_.load();
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
            std::lock_guard<std::mutex> lock(deliveryMutex_);
            if (stopping_) break;
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
        if (!dirty.empty() || pollAll) Refresh(dirty, pollAll);
        Deliver();
    }
    if (ifd >= 0) close(ifd);
    std::lock_guard<std::mutex> lock(deliveryMutex_);
    threadDone_ = true;
    deliveryCv_.notify_all();
}

}  // namespace

// ------------------------------------------------------------------------------------------------

NamespaceState_t* ConfigService_t::GetState(const String_t& name, const String_t& group) {
    return Service::Get().GetState(name, group);
}

void ConfigService_t::Register(NamespaceState_t* state, ConfigChangeHandler_i* handler) {
    Service::Get().Register(state, handler);
}

void ConfigService_t::Unregister(NamespaceState_t* state, ConfigChangeHandler_i* handler) {
    Service::Get().Unregister(state, handler);
}

void ConfigService_t::Edit(NamespaceState_t* state, const String_t& key, const String_t* value) {
    Service::Get().Edit(state, key, value);
}

void ConfigService_t::ReloadAll() { Service::Get().ReloadAll(); }

bool ConfigService_t::WaitUntilIdle(int timeoutMs) {
    return Service::Get().WaitUntilIdle(timeoutMs);
}

void ConfigService_t::Shutdown() { Service::Get().Shutdown(); }

}  // namespace QmXplConfig

#include "config/ConfigCache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "config/ConfigNames.h"
#include "config/ConfigTrace.h"
#include "io/AtomicFile.h"
#include "runtime/Home.h"

namespace QmXplConfig::detail {

namespace {

// Configuration files are small; a huge one is a mistake or an attack, and is not read.
constexpr off_t kMaxFileSize = 4 * 1024 * 1024;

}  // namespace

int ReadConfigFile(const std::string& path, std::string& text, struct stat& st) {
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

void ConfigCache::ResolveHomeLocked() {
    if (!homeResolved_) {
        confDir_ = QmXplRuntime::HomeDirectory() + "/conf";
        homeResolved_ = true;
    }
}

std::string ConfigCache::FilePathLocked(const std::string& group) const {
    return group.empty() ? confDir_ + "/" + kConfigFileName
                         : confDir_ + "/" + group + "/" + kConfigFileName;
}

ConfigCache::FileEntry& ConfigCache::EnsureFileLocked(const std::string& group) {
    auto [it, inserted] = files_.try_emplace(group);
    if (inserted) {
        it->second.path = FilePathLocked(group);
        LoadFileLocked(it->second);
    }
    return it->second;
}

void ConfigCache::LoadFileLocked(FileEntry& file) {
    std::string text;
    struct stat st {};
    int err = ReadConfigFile(file.path, text, st);
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
        file.data = std::make_shared<const ParsedConfig>();
        return;
    }
    file.good = true;
    file.error.clear();
    file.data = std::make_shared<const ParsedConfig>(ParseConfigText(text, file.path));
    QMXPL_CONFIG_TRACE(kTraceActivity, "Read configuration file '" + file.path + "' (" +
                                           std::to_string(text.size()) + " bytes)");
}

std::shared_ptr<const ConfigData_t> ConfigCache::BuildLocked(const NamespaceState_t& state) const {
    auto data = std::make_shared<ConfigData_t>();
    const ConfigSection* own = nullptr;
    if (!state.groupUtf8.empty()) {
        auto it = files_.find(state.groupUtf8);
        if (it != files_.end()) {
            own = it->second.data->Find(state.nameUtf8);
            data->error = it->second.error;
        }
    }
    const ConfigSection* fallback = nullptr;
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
void ConfigCache::RefreshStatesLocked(const std::set<std::string>* groups) {
    const bool all = !groups || groups->count(std::string()) > 0;
    std::vector<ConfigDelivery::Pending> changes;
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
    delivery_.Queue(std::move(changes));
}

NamespaceState_t* ConfigCache::GetState(const String_t& name, const String_t& group) {
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
    return result;
}

void ConfigCache::Refresh(const std::set<std::string>& dirty, bool pollAll) {
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

void ConfigCache::ReloadAll() {
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

std::string ConfigCache::FilePath(const std::string& group) {
    std::lock_guard<std::mutex> lock(mutex_);
    return FilePathLocked(group);
}

void ConfigCache::Reload(const std::string& group, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(group);
    if (it != files_.end() && it->second.path == path) {
        LoadFileLocked(it->second);
        std::set<std::string> groups{group};
        RefreshStatesLocked(&groups);
    }
}

std::vector<std::pair<std::string, std::string>> ConfigCache::Directories() {
    std::vector<std::pair<std::string, std::string>> dirs;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [group, file] : files_)
        dirs.emplace_back(QmXplIo::detail::DirectoryOf(file.path), group);
    return dirs;
}

}  // namespace QmXplConfig::detail

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "ConfigTestSupport.h"
#include "QmXpl/Thread_t.h"
#include "config/ConfigService.h"

namespace configtest {

TempHome::TempHome() {
    if (const char* old = std::getenv("QMXPL_HOME")) {
        hadHome_ = true;
        oldHome_ = old;
    }
    setenv("QMXPL_HOME", Path().c_str(), 1);
    Reread();
}

TempHome::~TempHome() {
    // Let the changes of this test reach their handlers before they go away.
    QmXplConfig::ConfigService_t::WaitUntilIdle(kDeliveryTimeoutMs);
    if (hadHome_)
        setenv("QMXPL_HOME", oldHome_.c_str(), 1);
    else
        unsetenv("QMXPL_HOME");
}

void Reread() {
    QmXplConfig::ConfigService_t::ReloadAll();
    // What the switch changed for earlier tests' namespaces is delivered before this test
    // registers anything.
    EXPECT_TRUE(QmXplConfig::ConfigService_t::WaitUntilIdle(kDeliveryTimeoutMs));
}

void Seed(const std::string& path, const std::string& text) {
    WriteFile(path, text);
    Reread();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::vector<std::string> ListDirectory(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

int StartShell(const std::string& script) {
    pid_t pid = fork();
    if (pid == 0) {
        // Only exec in the child: the parent has threads, so nothing else is safe here.
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

int WaitChild(int pid) {
    if (pid < 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunShell(const std::string& script) { return WaitChild(StartShell(script)); }

bool WaitFor(const std::function<bool()>& predicate, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (predicate()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int CountThreadsNamed(const std::string& name) {
    int count = 0;
    for (const std::string& tid : ListDirectory("/proc/self/task")) {
        std::ifstream in("/proc/self/task/" + tid + "/comm");
        std::string comm;
        std::getline(in, comm);
        if (comm == name) ++count;
    }
    return count;
}

std::string Utf8(const String_t& s) { return s.ToUtf8(); }

std::set<std::string> Keys(const ChangedConfiguration_t& changes) {
    std::set<std::string> keys;
    for (const String_t& k : changes.GetChangedKeys()) keys.insert(k.ToUtf8());
    return keys;
}

void RecordingHandler::Update(const ChangedConfiguration_t& changes) {
    Delivery d{QmXplThread::Thread_t::CurrentID(), Utf8(changes.GetNamespace()),
               Utf8(changes.GetGroup()), Keys(changes), changes.GetConfiguration()};
    std::lock_guard<std::mutex> lock(mutex_);
    deliveries_.push_back(std::move(d));
    cv_.notify_all();
}

std::vector<Delivery> RecordingHandler::Deliveries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_;
}

size_t RecordingHandler::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_.size();
}

bool RecordingHandler::WaitForCount(size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return deliveries_.size() >= count; });
}

bool RecordingHandler::WaitForValue(const std::string& key, const std::string& value,
                                    int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const Delivery& d : deliveries_) {
            if (Utf8(d.configuration.GetValue(String_t(key))) == value &&
                !d.configuration.GetValue(String_t(key)).IsNull())
                return true;
        }
        return false;
    });
}

}  // namespace configtest

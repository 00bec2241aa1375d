// Helpers shared by the configuration tests: temporary node homes, files, child processes and
// a handler that records what it is given.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "QmXpl/ChangedConfiguration_t.h"
#include "QmXpl/ConfigChangeHandler_i.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "QmXpl/Configuration_t.h"
#include "support/TempDir.h"

namespace configtest {

using QmXplConfig::ChangedConfiguration_t;
using QmXplConfig::ConfigChangeHandler_i;
using QmXplConfig::ConfigNamespace_t;
using QmXplConfig::Configuration_t;
using QmXplStr::String_t;

// Generous: the machine is shared and loaded; a delivery normally takes milliseconds.
constexpr int kDeliveryTimeoutMs = 10000;

// A fresh node directory as $QMXPL_HOME for the life of the object; the configuration service
// is pointed at it. The directory is removed afterwards.
class TempHome {
  public:
    TempHome();
    ~TempHome();
    const std::string& Path() const { return dir_.Path(); }
    std::string Conf() const { return Path() + "/conf"; }
    std::string DefaultFile() const { return Conf() + "/config.ini"; }
    std::string GroupFile(const std::string& group) const {
        return Conf() + "/" + group + "/config.ini";
    }

  private:
    qmsec_test::TempDir dir_;
    std::string oldHome_;
    bool hadHome_ = false;
};

// Writes text to path in place (creating directories), as a plain program would.
using qmsec_test::WriteFile;
// Prepares a file before a test reads it: writes it, then has the service read every file
// again. (Namespaces opened by earlier tests of the same process are served from memory and
// would show the new file only once the watcher has seen it.)
void Seed(const std::string& path, const std::string& text);
void Reread();
// The whole file; fails the test when it cannot be read.
using qmsec_test::ReadFile;
bool Exists(const std::string& path);
ino_t InodeOf(const std::string& path);
std::vector<std::string> ListDirectory(const std::string& dir);

// Runs script with /bin/sh in a child process and returns its exit status (-1: did not exit).
int RunShell(const std::string& script);
// Starts script in a child process and returns its pid without waiting.
int StartShell(const std::string& script);
int WaitChild(int pid);

// Polls predicate every 10 ms until it holds or timeoutMs has passed.
bool WaitFor(const std::function<bool()>& predicate, int timeoutMs = kDeliveryTimeoutMs);

// Threads of this process whose name is name (/proc/self/task/*/comm).
int CountThreadsNamed(const std::string& name);

std::string Utf8(const String_t& s);
std::set<std::string> Keys(const ChangedConfiguration_t& changes);

struct Delivery {
    unsigned long threadId;
    std::string name;
    std::string group;
    std::set<std::string> changed;
    Configuration_t configuration;
};

class RecordingHandler : public ConfigChangeHandler_i {
  public:
    void Update(const ChangedConfiguration_t& changes) override;
    std::vector<Delivery> Deliveries() const;
    size_t Count() const;
    bool WaitForCount(size_t count, int timeoutMs = kDeliveryTimeoutMs) const;
    // Waits until a delivery shows key with value in its new configuration.
    bool WaitForValue(const std::string& key, const std::string& value,
                      int timeoutMs = kDeliveryTimeoutMs) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<Delivery> deliveries_;
};

// Registers a handler for the life of the scope.
class ScopedRegistration {
  public:
    ScopedRegistration(ConfigNamespace_t& ns, ConfigChangeHandler_i* handler)
        : ns_(ns), handler_(handler) {
        ns_.Register(handler_);
    }
    ~ScopedRegistration() { ns_.Unregister(handler_); }
    ScopedRegistration(const ScopedRegistration&) = delete;
    ScopedRegistration& operator=(const ScopedRegistration&) = delete;

  private:
    ConfigNamespace_t& ns_;
    ConfigChangeHandler_i* handler_;
};

}  // namespace configtest

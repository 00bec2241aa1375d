// The service thread: watches the configuration files and has the changes delivered.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "config/ConfigCache.h"
#include "config/ConfigDelivery.h"
#include "config/ServiceMonitor.h"

namespace QmXplConfig::detail {

// inotify on the directories of the files, plus a check of every file at least once a second.
class ConfigWatcher {
  public:
    ConfigWatcher(ServiceMonitor& monitor, ConfigCache& cache, ConfigDelivery& delivery)
        : monitor_(monitor), cache_(cache), delivery_(delivery) {}
    ConfigWatcher(const ConfigWatcher&) = delete;
    ConfigWatcher& operator=(const ConfigWatcher&) = delete;

    // Starts the thread unless it runs, could not be started, or was stopped. atExit is
    // registered to run at process exit (and library unload) once the thread runs.
    void EnsureThread(void (*atExit)());
    // The files are elsewhere now: watches their directories anew.
    void ResetWatches();
    // See ConfigService_t::Shutdown.
    void Shutdown();

  private:
    struct Watch {
        std::string dir;
        std::string group;
    };

    // --- the thread
    void Run();
    void SyncWatches(int ifd);
    void DropWatches(int ifd);
    void ReadEvents(int ifd, std::set<std::string>& dirty, bool& pollAll, bool& watchesDirty);

    ServiceMonitor& monitor_;
    ConfigCache& cache_;
    ConfigDelivery& delivery_;
    std::thread thread_;
    std::atomic<pid_t> ownerPid_{0};  // the process that started the thread
    std::atomic<bool> watchesReset_{false};

    // Used by the service thread only.
    std::map<int, Watch> watches_;
    std::map<std::string, int> watchByDir_;
};

}  // namespace QmXplConfig::detail

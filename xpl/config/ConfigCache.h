// The configuration files in memory and the namespaces read from them.
#pragma once

#include <sys/stat.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "QmXpl/String_t.h"
#include "config/ConfigData.h"
#include "config/ConfigDelivery.h"
#include "config/ConfigFile.h"
#include "config/FileSig.h"

namespace QmXplConfig::detail {

// The name of every configuration file, in conf/ and in conf/<group>/.
constexpr const char* kConfigFileName = "config.ini";

// Reads a whole configuration file. Returns 0, or the errno value of the failure: EFBIG for a
// file over the size limit, EINVAL for something that is not a regular file (a FIFO would block a
// reader for ever, so the file is opened without blocking and checked first).
int ReadConfigFile(const std::string& path, std::string& text, struct stat& st);

// Files and namespaces. Its lock is held while a file is read, never while a handler runs, and
// taken before the monitor's lock when both are needed. Changes it finds go to the delivery.
class ConfigCache {
  public:
    explicit ConfigCache(ConfigDelivery& delivery) : delivery_(delivery) {}
    ConfigCache(const ConfigCache&) = delete;
    ConfigCache& operator=(const ConfigCache&) = delete;

    // The state of a namespace, read from the files on first use. Throws IllegalArgumentError_t
    // for unusable names.
    NamespaceState_t* GetState(const String_t& name, const String_t& group);
    // Where the file of group is (the default file for the empty group).
    std::string FilePath(const std::string& group);
    // After path was written for group: reads it again when it is the file in use for group.
    void Reload(const std::string& group, const std::string& path);
    // Rereads the files of the dirty groups, and with pollAll every file that looks changed.
    void Refresh(const std::set<std::string>& dirty, bool pollAll);
    // Reads the home directory again and every file from there (see ConfigService_t).
    void ReloadAll();
    // The directory of each file in use, with its group.
    std::vector<std::pair<std::string, std::string>> Directories();

  private:
    struct FileEntry {
        std::string path;
        FileSig sig;
        std::shared_ptr<const ParsedConfig> data;
        // Whether data is what this path held at some time (absent counts: an empty file). A
        // file that cannot be read then keeps that, the last good state, and never becomes
        // an empty configuration.
        bool good = false;
        // Why the file could not be read while there was nothing good of it; empty otherwise.
        std::string error;
    };

    // --- under mutex_
    void ResolveHomeLocked();
    std::string FilePathLocked(const std::string& group) const;
    FileEntry& EnsureFileLocked(const std::string& group);
    void LoadFileLocked(FileEntry& file);
    std::shared_ptr<const ConfigData_t> BuildLocked(const NamespaceState_t& state) const;
    void RefreshStatesLocked(const std::set<std::string>* groups);

    ConfigDelivery& delivery_;
    std::mutex mutex_;
    bool homeResolved_ = false;
    std::string confDir_;
    std::map<std::string, FileEntry> files_;  // by group; "" is the default file
    // Namespaces by name and group. Added to under mutex_ and statesLock_ (write), so that a
    // lookup needs only statesLock_ (read) and never waits for a file being read.
    std::map<std::pair<std::string, std::string>, std::unique_ptr<NamespaceState_t>> states_;
    mutable std::shared_mutex statesLock_;
};

}  // namespace QmXplConfig::detail

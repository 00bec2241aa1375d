// The node's well-known directories.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplRuntime {

// Directories of a node installation, by key. The installation root is $QMXPL_HOME, or
// $HOME/.qm when that is not set.
//   key 0  the installation root            key 1  "conf"   configuration files
//   key 2  "log"                             key 3  "tmp"
//   key 7  "data"   persistent data (key store "sec/ks", policies "policies/mgrconf")
// Keys 4 to 6 are the root itself.
class QMXPL_API Dir_t {
  public:
    enum Key : int { eRoot = 0, eConf = 1, eLog = 2, eTmp = 3, eData = 7 };

    // <root>/<dir of key>[/relative]. Nothing is created.
    static QmXplStr::String_t Path(int key,
                                   const QmXplStr::String_t& relative = QmXplStr::String_t());
    // The same under an explicit base directory B instead of the root: B/<dir of key>/relative.
    // A null base means the root, as the first form; an empty base is also the root.
    static QmXplStr::String_t Path(const QmXplStr::String_t& base, int key,
                                   const QmXplStr::String_t& relative);

    // Creates the directory dir (UTF-8) and every missing directory above it. A directory made
    // here gets its mode exactly, whatever the umask: dir itself mode, a parent parentMode (the
    // defaults keep a umask of 0 from leaving a directory that anyone may write, and one of 077
    // from leaving one that nobody else may pass). Each is made with nothing for others first,
    // so it is never wider than its mode. A directory that exists is left as it is, also one that
    // another process makes meanwhile. True when dir was made here, false when it was a directory
    // already. IOException_t naming the part and the system's error text when a part is not a
    // directory, cannot be examined, made or given its mode; IllegalArgumentError_t for a mode
    // outside 0..07777.
    static bool Create(const QmXplStr::String_t& dir, int mode = 0755, int parentMode = 0755);
};

// Facts about the running process.
class QMXPL_API App_t {
  public:
    static int GetProcessId() noexcept;
};

}  // namespace QmXplRuntime

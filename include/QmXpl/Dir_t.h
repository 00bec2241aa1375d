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
};

// Facts about the running process.
class QMXPL_API App_t {
  public:
    static int GetProcessId() noexcept;
};

}  // namespace QmXplRuntime

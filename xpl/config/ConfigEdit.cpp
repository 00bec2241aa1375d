#include "config/ConfigEdit.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "QmXpl/Dir_t.h"
#include "QmXpl/FileLock_t.h"
#include "QmXpl/IOException_t.h"
#include "config/ConfigFile.h"
#include "config/ConfigNames.h"
#include "config/ConfigTrace.h"
#include "io/AtomicFile.h"

namespace QmXplConfig::detail {

using QmXplMsg::detail::ThrowErrno;

namespace {

constexpr const char* kLockFileName = ".config.ini.lock";

}  // namespace

void EditConfigFile(ConfigCache& cache, NamespaceState_t* state, const String_t& key,
                    const String_t* value) {
    CheckKey(key);
    if (value) CheckValue(key, *value);
    const std::string path = cache.FilePath(state->groupUtf8);
    const std::string dir = QmXplIo::detail::DirectoryOf(path);
    // Writers in this and other processes take turns, so that no read-modify-write loses the
    // change of another.
    std::optional<QmXplIo::FileLock_t> fileLock;
    try {
        QmXplRuntime::Dir_t::Create(String_t(dir), 0755);
        fileLock.emplace(String_t(dir + "/" + kLockFileName), 0600,
                         QmXplIo::FileLock_t::eCreateMode);
    } catch (const QmXplIo::IOException_t& e) {
        QMXPL_CONFIG_TRACE(kTraceProblem, std::string(e.what()));
        throw;
    }

    // An administrator's symbolic link stays a link: the file it points to is replaced.
    std::string target = path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved)) target = resolved;

    std::string text;
    struct stat st {};
    mode_t mode = 0644;
    int err = ReadConfigFile(target, text, st);
    if (err == 0)
        mode = st.st_mode & 07777;
    else if (err == EINVAL)
        ThrowErrno(err, "Configuration file '" + target + "' is not a regular file",
                   QMXPL_CONFIG_THROW_TRACE);
    else if (err != ENOENT)
        ThrowErrno(err, "Could not read configuration file '" + target + "'",
                   QMXPL_CONFIG_THROW_TRACE);

    const std::string key8 = key.ToUtf8();
    const std::string value8 = value ? value->ToUtf8() : std::string();
    bool changed = false;
    std::string edited =
        EditConfigText(text, state->nameUtf8, key8, value ? &value8 : nullptr, changed);
    if (changed) {
        QmXplIo::detail::WriteFileAtomically(target, edited, mode);
        QMXPL_CONFIG_TRACE(kTraceActivity, std::string(value ? "Set" : "Removed") + " key '" +
                                               key8 + "' of namespace '" + state->nameUtf8 +
                                               "' in '" + target + "'");
    }

    cache.Reload(state->groupUtf8, path);
}

}  // namespace QmXplConfig::detail

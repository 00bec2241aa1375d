#include "config/ConfigEdit.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "config/ConfigFile.h"
#include "config/ConfigNames.h"
#include "config/ConfigTrace.h"
#include "io/AtomicFile.h"

namespace QmXplConfig::detail {

using QmXplMsg::detail::ThrowErrno;

namespace {

constexpr const char* kLockFileName = ".config.ini.lock";

// Creates dir and every missing directory above it, each with mode 0755 whatever the umask.
void MakeDirectories(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') continue;
        std::string prefix = dir.substr(0, pos);
        if (mkdir(prefix.c_str(), 0700) != 0) {
            if (errno != EEXIST)
                ThrowErrno(errno, "Could not create directory '" + prefix + "'",
                           QMXPL_CONFIG_THROW_TRACE);
        } else if (chmod(prefix.c_str(), 0755) != 0) {
            ThrowErrno(errno, "Could not set the permissions of directory '" + prefix + "'",
                       QMXPL_CONFIG_THROW_TRACE);
        }
    }
}

// Holds an advisory lock on a file for the life of the scope.
class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0)
            ThrowErrno(errno, "Could not open lock file '" + path + "'", QMXPL_CONFIG_THROW_TRACE);
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                int err = errno;
                close(fd_);
                ThrowErrno(err, "Could not lock '" + path + "'", QMXPL_CONFIG_THROW_TRACE);
            }
        }
    }
    ~FileLock() { close(fd_); }  // closing releases the lock
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_ = -1;
};

}  // namespace

void EditConfigFile(ConfigCache& cache, NamespaceState_t* state, const String_t& key,
                    const String_t* value) {
    CheckKey(key);
    if (value) CheckValue(key, *value);
    const std::string path = cache.FilePath(state->groupUtf8);
    const std::string dir = QmXplIo::detail::DirectoryOf(path);
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

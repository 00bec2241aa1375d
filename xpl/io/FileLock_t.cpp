#include "QmXpl/FileLock_t.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "QmXpl/IOException_t.h"
#include "QmXpl/UTF8_t.h"

namespace QmXplIo {

using QmXplMsg::CreateSystemError_t;
using QmXplStr::String_t;

namespace {

[[noreturn]] void Fail(int fd, int err, const char* what, const std::string& path) {
    if (fd >= 0) ::close(fd);
    throw IOException_t(CreateSystemError_t(err, String_t(std::string(what) + " '" + path + "'")));
}

}  // namespace

FileLock_t::FileLock_t(const String_t& path, int mode, ModeRule rule) {
    if (mode < 0 || mode > 07777) {
        throw QmXplMsg::IllegalArgumentError_t(
            QmXplMsg::CreateWarn_t(String_t("File permissions must lie between 0 and 07777")));
    }
    const std::string p = QmXplStr::UTF8_t(path).Str();
    int fd;
    do {
        fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                    static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) Fail(fd, errno, "Could not open the lock file", p);
    struct stat st {};
    if (rule == eExactMode && fstat(fd, &st) == 0 &&
        (st.st_mode & 07777) != static_cast<mode_t>(mode) &&
        fchmod(fd, static_cast<mode_t>(mode)) != 0) {
        Fail(fd, errno, "Could not set the permissions of the lock file", p);
    }
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) Fail(fd, errno, "Could not lock the lock file", p);
    }
    fd_ = fd;
}

FileLock_t::~FileLock_t() { ::close(fd_); }

}  // namespace QmXplIo

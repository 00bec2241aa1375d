#include "io/AtomicFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "XplThrow.h"

namespace QmXplIo::detail {

using QmXplMsg::detail::ThrowErrno;

namespace {

std::string NameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The kernel follows a link in a sticky, world-writable directory only for the link's owner or
// when the directory's owner owns the link too (fs.protected_symlinks): a stranger's link in
// /tmp must not steer a root process onto /etc/shadow. Following links by hand bypasses that
// check, so it is made here.
void CheckLinkMayBeFollowed(const std::string& link, const struct stat& linkStat) {
    struct stat dir {};
    if (stat(DirectoryOf(link).c_str(), &dir) != 0) ThrowErrno(errno, "Could not examine", link);
    bool shared = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
    if (shared && linkStat.st_uid != geteuid() && linkStat.st_uid != dir.st_uid)
        ThrowErrno(EACCES, "Will not follow another user's symbolic link in a shared directory",
                   link);
}

// path with the symbolic links of its last part followed: the file that is to be replaced.
std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        if (hops == 40) ThrowErrno(ELOOP, "Could not follow the symbolic link", path);
        CheckLinkMayBeFollowed(current, st);
        char buf[PATH_MAX];
        ssize_t n = readlink(current.c_str(), buf, sizeof buf);
        if (n < 0) ThrowErrno(errno, "Could not read the symbolic link", current);
        if (static_cast<size_t>(n) == sizeof buf)
            ThrowErrno(ENAMETOOLONG, "Could not read the symbolic link", current);
        std::string to(buf, static_cast<size_t>(n));
        current = !to.empty() && to.front() == '/' ? to : DirectoryOf(current) + "/" + to;
    }
}

// Creates a new file beside the target. The mode goes to open(2), so the umask (or a default
// access list of the directory) applies to it as to any file created there.
int CreateTemporary(std::string& temp, const std::string& target, mode_t mode) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    // The temporary's name must fit where the target's does: keep at most 200 bytes of it.
    const std::string stem = DirectoryOf(target) + "/." + NameOf(target).substr(0, 200) + ".tmp-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[8];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            ThrowErrno(errno ? errno : EIO, "Could not name a temporary file for", target);
        temp = stem;
        for (unsigned char r : random) temp.push_back(kLetters[r % (sizeof kLetters - 1)]);
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path, mode_t mode, Mode rule)
    : path_(path), target_(FollowLinks(path)) {
    struct stat st {};
    // A directory under the name is left to the rename, which refuses it when the data is
    // complete, as it always did.
    if (stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        do {
            fd_ = open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) ThrowErrno(errno, "Could not open", path);
        if (fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode)) {
            direct_ = true;
            return;
        }
        // Replaced by a regular file meanwhile: that one is replaced whole, not overwritten.
        close(fd_);
        fd_ = -1;
    }
    OpenTemporary(mode, rule);
}

void AtomicFile::OpenTemporary(mode_t mode, Mode rule) {
    const bool exact = rule == Mode::kExact;
    fd_ = CreateTemporary(temp_, target_, exact ? 0600 : mode);
    if (fd_ < 0) {
        temp_.clear();
        ThrowErrno(errno, "Could not create a temporary file for", path_);
    }
    struct stat old {};
    bool replacing = !exact && stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (replacing) {
        // A process that may not give the file away leaves it its own.
        struct stat now {};
        if (fstat(fd_, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid))
            (void)!fchown(fd_, old.st_uid, old.st_gid);
    }
    // The set-id and sticky bits of a replaced file belonged to its old content, not the new.
    if ((exact || replacing) && fchmod(fd_, exact ? mode : old.st_mode & 0777) != 0) {
        int err = errno;
        std::string temp = temp_;
        Abandon();
        ThrowErrno(err, "Could not set permissions of", temp);
    }
}

AtomicFile::~AtomicFile() { Abandon(); }

void AtomicFile::Write(const char* data, size_t size) {
    if (fd_ < 0) ThrowErrno(EBADF, "Write after commit to", path_);
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, "Could not write", direct_ ? path_ : temp_);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void AtomicFile::Commit() {
    if (fd_ < 0) ThrowErrno(EBADF, "Commit twice of", path_);
    if (direct_) {
        // A device or pipe has nothing to replace and nothing that fsync could make durable.
        int fd = std::exchange(fd_, -1);
        if (close(fd) != 0 && errno != EINTR) ThrowErrno(errno, "Could not close", path_);
        return;
    }
    if (fsync(fd_) != 0) ThrowErrno(errno, "Could not sync", temp_);
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        int err = errno;
        unlink(temp_.c_str());
        std::string temp = std::exchange(temp_, std::string());
        ThrowErrno(err, "Could not close", temp);
    }
    if (rename(temp_.c_str(), target_.c_str()) != 0) {
        int err = errno;
        unlink(temp_.c_str());
        temp_.clear();  // removed already; the destructor must not try again
        ThrowErrno(err, "Could not replace", path_);
    }
    temp_.clear();
    SyncParentDirectory(target_);
}

void AtomicFile::Abandon() noexcept {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        temp_.clear();
    }
}

void WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode) {
    AtomicFile file(path, mode);
    file.Write(data.data(), data.size());
    file.Commit();
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncParentDirectory(const std::string& path) {
    int dfd = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return;  // durability of the rename is best effort where the directory is unreadable
    fsync(dfd);
    close(dfd);
}

}  // namespace QmXplIo::detail

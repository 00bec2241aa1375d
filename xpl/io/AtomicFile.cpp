#include "io/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "QmXpl/IOException_t.h"

namespace QmXplIo::detail {

using QmXplMsg::CreateSystemError_t;
using QmXplStr::String_t;

namespace {

[[noreturn]] void Fail(int err, const std::string& what, const std::string& path) {
    throw IOException_t(CreateSystemError_t(err, String_t(what + " '" + path + "'")));
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path, mode_t mode) : path_(path) {
    std::string dir = DirectoryOf(path);
    std::string name =
        path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    // The temporary's name must fit where the target's does: keep at most 200 bytes of it.
    temp_ = dir + "/." + name.substr(0, 200) + ".tmp-XXXXXX";
    fd_ = mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0) Fail(errno, "Could not create a temporary file for", path);
    if (fchmod(fd_, mode) != 0) {
        int err = errno;
        Abandon();
        Fail(err, "Could not set permissions of", temp_);
    }
}

AtomicFile::~AtomicFile() { Abandon(); }

void AtomicFile::Write(const char* data, size_t size) {
    if (fd_ < 0) Fail(EBADF, "Write after commit to", path_);
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(errno, "Could not write", temp_);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void AtomicFile::Commit() {
    if (fd_ < 0) Fail(EBADF, "Commit twice of", path_);
    if (fsync(fd_) != 0) Fail(errno, "Could not sync", temp_);
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        int err = errno;
        unlink(temp_.c_str());
        std::string temp = std::exchange(temp_, std::string());
        Fail(err, "Could not close", temp);
    }
    if (rename(temp_.c_str(), path_.c_str()) != 0) {
        int err = errno;
        unlink(temp_.c_str());
        temp_.clear();  // removed already; the destructor must not try again
        Fail(err, "Could not replace", path_);
    }
    temp_.clear();
    SyncParentDirectory(path_);
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

void SyncParentDirectory(const std::string& path) {
    int dfd = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return;  // durability of the rename is best effort where the directory is unreadable
    fsync(dfd);
    close(dfd);
}

}  // namespace QmXplIo::detail

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <string>

#include "QmXpl/FileInputStream_t.h"
#include "QmXpl/FileOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/UTF8_t.h"
#include "XplThrow.h"
#include "io/FileMode.h"
#include "io/IoTrace.h"

namespace QmXplIo {

using QmXplMsg::detail::ThrowErrno;
using QmXplMsg::detail::ThrowFileClosed;
using QmXplMsg::detail::ThrowFileNotFound;
using QmXplStr::String_t;

namespace {

constexpr const char* kOpenFailed = "Could not open file";

int OpenRetrying(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Closes fd; on Linux the descriptor is gone even when close reports EINTR, so only other errors
// count (they may be the first report of a write that did not reach the file).
int CloseDescriptor(int fd) {
    if (::close(fd) != 0 && errno != EINTR) return errno;
    return 0;
}

// Closes the stream's descriptor once; a second close does nothing, a failure names the file.
void CloseStream(int& fd, const std::string& path) {
    if (fd < 0) return;
    int closing = fd;
    fd = -1;
    if (int err = CloseDescriptor(closing)) ThrowErrno(err, "Could not close file", path);
}

}  // namespace

// --- input -------------------------------------------------------------------------------------

class FileInputStreamImpl_t : public InputStreamImpl_t {
  public:
    explicit FileInputStreamImpl_t(std::string path) : path_(std::move(path)) {
        fd_ = OpenRetrying(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY, 0);
        if (fd_ < 0) ThrowFileNotFound(errno, kOpenFailed, path_);
        struct stat st {};
        int err = fstat(fd_, &st) != 0 ? errno : (S_ISDIR(st.st_mode) ? EISDIR : 0);
        if (err != 0) {
            ::close(fd_);
            fd_ = -1;
            ThrowFileNotFound(err, kOpenFailed, path_);
        }
        regular_ = S_ISREG(st.st_mode);
    }
    ~FileInputStreamImpl_t() override {
        if (fd_ >= 0) {
            if (int err = CloseDescriptor(fd_))
                detail::TraceIgnoredErrno("FileInputStream_t: close failed", err, __FILE__,
                                          __LINE__);
        }
    }

    int Read(char* buf, int len) override {
        CheckOpen();
        for (;;) {
            ssize_t n = ::read(fd_, buf, static_cast<size_t>(len));
            if (n > 0) return static_cast<int>(n);
            if (n == 0) return -1;
            if (errno != EINTR) ThrowErrno(errno, "Could not read file", path_);
        }
    }

    int Available() override {
        CheckOpen();
        if (regular_) {
            struct stat st {};
            if (fstat(fd_, &st) != 0) ThrowErrno(errno, "Could not query file", path_);
            off_t pos = lseek(fd_, 0, SEEK_CUR);
            if (pos < 0) ThrowErrno(errno, "Could not query position in file", path_);
            long long left = static_cast<long long>(st.st_size) - pos;
            return left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
        }
        int n = 0;
        return ioctl(fd_, FIONREAD, &n) == 0 && n > 0 ? n : 0;
    }

    long long Skip(long long n) override {
        CheckOpen();
        if (!regular_) return InputStreamImpl_t::Skip(n);
        // A regular file moves its position instead of reading; never past its end, so the
        // count returned is what was really passed over.
        struct stat st {};
        if (fstat(fd_, &st) != 0) ThrowErrno(errno, "Could not query file", path_);
        off_t pos = lseek(fd_, 0, SEEK_CUR);
        if (pos < 0) ThrowErrno(errno, "Could not query position in file", path_);
        long long left = static_cast<long long>(st.st_size) - pos;
        long long step = left <= 0 ? 0 : (n < left ? n : left);
        if (step > 0 && lseek(fd_, static_cast<off_t>(step), SEEK_CUR) < 0)
            ThrowErrno(errno, "Could not move in file", path_);
        return step;
    }

    void Close() override { CloseStream(fd_, path_); }

  private:
    void CheckOpen() const {
        if (fd_ < 0) ThrowFileClosed("FileInputStream_t", path_);
    }

    std::string path_;
    int fd_ = -1;
    bool regular_ = false;
};

FileInputStream_t::FileInputStream_t(const String_t& path)
    : InputStream_t(new FileInputStreamImpl_t(QmXplStr::UTF8_t(path).Str())) {}
FileInputStream_t::~FileInputStream_t() = default;

// --- output ------------------------------------------------------------------------------------

class FileOutputStreamImpl_t : public OutputStreamImpl_t {
  public:
    FileOutputStreamImpl_t(std::string path, bool append, int mode) : path_(std::move(path)) {
        int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | (append ? O_APPEND : O_TRUNC);
        if (mode < 0) {
            fd_ = OpenRetrying(path_.c_str(), flags | O_CREAT, 0666);
            if (fd_ < 0) ThrowFileNotFound(errno, kOpenFailed, path_);
            return;
        }
        // Only a file this call creates gets the mode; O_EXCL tells creation apart from opening
        // an existing file. A file that vanishes between the two attempts is tried again.
        int err = ENOENT;
        for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
            fd_ = OpenRetrying(path_.c_str(), flags | O_CREAT | O_EXCL,
                               static_cast<mode_t>(mode) & 0777);
            if (fd_ >= 0) {
                if (fchmod(fd_, static_cast<mode_t>(mode)) != 0) {
                    err = errno;
                    ::close(fd_);
                    fd_ = -1;
                    ::unlink(path_.c_str());
                    ThrowErrno(err, "Could not set permissions of", path_);
                }
                return;
            }
            err = errno;
            if (err != EEXIST) break;
            fd_ = OpenRetrying(path_.c_str(), flags, 0);
            err = fd_ < 0 ? errno : 0;
            if (fd_ < 0 && err != ENOENT) break;
        }
        if (fd_ < 0) ThrowFileNotFound(err, kOpenFailed, path_);
    }
    ~FileOutputStreamImpl_t() override {
        if (fd_ >= 0) {
            if (int err = CloseDescriptor(fd_))
                detail::TraceIgnoredErrno("FileOutputStream_t: close failed", err, __FILE__,
                                          __LINE__);
        }
    }

    void Write(const char* buf, int len) override {
        if (fd_ < 0) ThrowFileClosed("FileOutputStream_t", path_);
        size_t left = static_cast<size_t>(len);
        while (left > 0) {
            ssize_t n = ::write(fd_, buf, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                ThrowErrno(errno, "Could not write file", path_);
            }
            buf += n;
            left -= static_cast<size_t>(n);
        }
    }

    void Close() override { CloseStream(fd_, path_); }

  private:
    std::string path_;
    int fd_ = -1;
};

FileOutputStream_t::FileOutputStream_t(const String_t& path, bool append)
    : OutputStream_t(new FileOutputStreamImpl_t(QmXplStr::UTF8_t(path).Str(), append, -1)) {}
FileOutputStream_t::FileOutputStream_t(const String_t& path, bool append, int mode)
    : OutputStream_t((detail::CheckFileMode(mode),
                      new FileOutputStreamImpl_t(QmXplStr::UTF8_t(path).Str(), append, mode))) {}
FileOutputStream_t::~FileOutputStream_t() = default;

}  // namespace QmXplIo

#include "QmSecKeyProvider/KeyProvider.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "QmSecCore/CryptImpl.h"
#include "QmXpl/Dir_t.h"
#include "QmXpl/File_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/NodeNames.h"

namespace QmSecKeyProvider {

using QmXplIo::IOException_t;
using QmXplStr::String_t;

namespace {

// Closes a descriptor on every path.
class Fd {
  public:
    explicit Fd(int fd) noexcept : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const noexcept { return fd_; }
    // Closes now and reports the result (a failing close may be the first sign of a lost write).
    int Close() noexcept {
        int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

// Bytes that must not outlive their use.
struct Secret {
    unsigned char bytes[KeyProvider::kSecretLength + 1];
    ~Secret() { explicit_bzero(bytes, sizeof bytes); }
};

[[noreturn]] void ThrowSystem(int errnum, const std::string& what) {
    throw IOException_t(QmXplMsg::CreateSystemError_t(errnum, String_t(what)));
}

[[noreturn]] void ThrowText(const std::string& text) {
    throw IOException_t(QmXplMsg::CreateError_t(String_t(text)));
}

void WriteAll(int fd, const unsigned char* data, size_t size, const std::string& path) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowSystem(errno, "Could not write '" + path + "'");
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void FillRandom(unsigned char* out, size_t size) {
    while (size > 0) {
        ssize_t n = ::getrandom(out, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowSystem(errno, "Could not draw random bytes for the key provider's secret");
        }
        out += n;
        size -= static_cast<size_t>(n);
    }
}

// Moves from to to unless to exists. Returns false (from left in place) when it does.
bool MoveNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS) ThrowSystem(errno, "Could not create '" + to + "'");
    // A file system without the no-replace rename: a hard link fails the same way when the
    // target exists, and is just as atomic.
    if (::link(from.c_str(), to.c_str()) != 0) {
        if (errno == EEXIST) return false;
        ThrowSystem(errno, "Could not create '" + to + "'");
    }
    ::unlink(from.c_str());
    return true;
}

}  // namespace

String_t KeyProvider::GetSecretPath() {
    return QmXplRuntime::Dir_t::Path(QmXplRuntime::Dir_t::eConf,
                                     String_t(QmXplRuntime::kSecretsDirectory) + "/provider.key");
}

bool KeyProvider::CreateSecret() {
    const std::string path = GetSecretPath().ToUtf8();
    QmXplIo::File_t file{String_t(path)};
    if (file.Exists()) return false;

    QmXplIo::File_t dir(file.GetParent());
    if (!dir.Mkdirs(0700))
        ThrowText("Could not create directory '" + dir.GetPath().ToUtf8() + "'.");
    dir.SetPermissions(0700);

    // Written beside its final name and moved there only when complete, so that nobody ever reads
    // a short secret, and moved without replacing, so that a secret already in use survives.
    std::string temp = path + ".new." + std::to_string(::getpid());
    Secret secret;
    FillRandom(secret.bytes, kSecretLength);
    {
        Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.Get() < 0) ThrowSystem(errno, "Could not create '" + temp + "'");
        try {
            if (::fchmod(fd.Get(), 0600) != 0)
                ThrowSystem(errno, "Could not protect '" + temp + "'");
            WriteAll(fd.Get(), secret.bytes, kSecretLength, temp);
            if (::fsync(fd.Get()) != 0) ThrowSystem(errno, "Could not write '" + temp + "'");
            if (fd.Close() != 0) ThrowSystem(errno, "Could not write '" + temp + "'");
        } catch (...) {
            ::unlink(temp.c_str());
            throw;
        }
    }
    bool created;
    try {
        created = MoveNoReplace(temp, path);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    if (!created) {
        ::unlink(temp.c_str());
        return false;
    }
    // The new directory entry survives a crash only once the directory itself is on disk.
    Fd dirFd(::open(dir.GetPath().ToUtf8().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() >= 0) ::fsync(dirFd.Get());
    return true;
}

void KeyProvider::ProvideKey(QmSecCore::Key& key) {
    const std::string path = GetSecretPath().ToUtf8();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT)
            ThrowText("The key provider's secret '" + path +
                      "' does not exist. Run 'qmsec init' to create it.");
        ThrowSystem(errno, "Could not open the key provider's secret '" + path + "'");
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0)
        ThrowSystem(errno, "Could not read the key provider's secret '" + path + "'");
    if (!S_ISREG(st.st_mode))
        ThrowText("The key provider's secret '" + path + "' is not a regular file.");
    if (st.st_mode & 077)
        ThrowText("The key provider's secret '" + path +
                  "' may be read or written by others; it must have mode 0600.");

    Secret secret;
    size_t have = 0;
    while (have < sizeof secret.bytes) {
        ssize_t n = ::read(fd.Get(), secret.bytes + have, sizeof secret.bytes - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowSystem(errno, "Could not read the key provider's secret '" + path + "'");
        }
        if (n == 0) break;
        have += static_cast<size_t>(n);
    }
    if (have != static_cast<size_t>(kSecretLength))
        ThrowText("The key provider's secret '" + path + "' is damaged: it must hold exactly " +
                  std::to_string(kSecretLength) + " bytes.");
    key = QmSecCore::Key(QmSecCore::Key::eSecretKey, reinterpret_cast<const char*>(secret.bytes),
                         kSecretLength);
}

void KeyProvider::Register() noexcept {
    QmSecCore::CryptImpl::RegisterFunctionPointer(&KeyProvider::ProvideKey);
}

}  // namespace QmSecKeyProvider

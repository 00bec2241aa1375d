// Helpers shared by the tests of the layer's streams and files.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "QmXpl/CharArray_t.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/OutputStream_t.h"

namespace iotest {

// Concatenation by appending (GCC 12 warns falsely on "literal" + std::string at -O2 and up).
template <class... Parts>
std::string Cat(const Parts&... parts) {
    std::string s;
    ((s += parts), ...);
    return s;
}

inline std::string Bytes(const QmXplArray::CharArray_t& a) {
    return std::string(a.GetData(), static_cast<size_t>(a.GetSize()));
}

inline QmXplArray::CharArray_t Array(const std::string& s) {
    return QmXplArray::CharArray_t(s.data(), static_cast<int>(s.size()));
}

inline std::string RandomBytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/qmxpl-io-XXXXXX";
        if (!mkdtemp(tmpl.data())) std::abort();
        path_ = tmpl;
    }
    ~TempDir() { Remove(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Names in the directory itself, without "." and "..".
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(path_.c_str())) {
            while (dirent* e = readdir(d)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    names.emplace_back(e->d_name);
            }
            closedir(d);
        }
        return names;
    }

  private:
    static void Remove(const std::string& p) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0) return;
        if (S_ISDIR(st.st_mode)) {
            chmod(p.c_str(), 0700);
            if (DIR* d = opendir(p.c_str())) {
                std::vector<std::string> names;
                while (dirent* e = readdir(d)) {
                    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                        names.emplace_back(e->d_name);
                }
                closedir(d);
                for (const auto& n : names) Remove(p + "/" + n);
            }
            rmdir(p.c_str());
        } else {
            unlink(p.c_str());
        }
    }
    std::string path_;
};

// Plain POSIX access, independent of the classes under test.
inline bool WriteFile(const std::string& path, const std::string& data, mode_t mode = 0644) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    return close(fd) == 0 && ok;
}

inline std::string ReadFile(const std::string& path) {
    std::string out;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

inline int PermissionsOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// Sets the umask for a scope.
class UmaskScope {
  public:
    explicit UmaskScope(mode_t m) : old_(umask(m)) {}
    ~UmaskScope() { umask(old_); }

  private:
    mode_t old_;
};

// An input stream over fixed bytes that hands out at most `chunk` bytes per read and, when
// `stutter` is set, answers every other read with 0 bytes (as a transforming stream may). It
// records the size of every request and whether it was closed.
class TrickleInputImpl : public QmXplIo::InputStreamImpl_t {
  public:
    TrickleInputImpl(std::string data, int chunk, bool stutter)
        : data_(std::move(data)), chunk_(chunk), stutter_(stutter) {}
    int Read(char* buf, int len) override {
        requests.push_back(len);
        if (stutter_ && (calls_++ % 2 == 0)) return 0;
        if (pos_ >= data_.size()) return -1;
        size_t n =
            std::min({static_cast<size_t>(len), static_cast<size_t>(chunk_), data_.size() - pos_});
        std::memcpy(buf, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<int>(n);
    }
    int Available() override { return static_cast<int>(data_.size() - pos_); }
    void Close() override { ++closes; }

    std::vector<int> requests;
    int closes = 0;

  private:
    std::string data_;
    size_t pos_ = 0;
    int chunk_;
    bool stutter_;
    unsigned calls_ = 0;
};

// An output stream that collects bytes and records each block write's size, flushes and closes.
// With failAfter >= 0 it throws IOException_t once that many bytes have been accepted.
class RecordingOutputImpl : public QmXplIo::OutputStreamImpl_t {
  public:
    void Write(const char* buf, int len) override;
    void Flush() override { ++flushes; }
    void Close() override { ++closes; }

    std::string data;
    std::vector<int> writes;
    int flushes = 0;
    int closes = 0;
    long failAfter = -1;
};

}  // namespace iotest
